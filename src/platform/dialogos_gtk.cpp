// The GTK 3 dialogs, in a module of their own that the program loads only when
// there is a display to show them on: a run without one never maps GTK.
#include <gtk/gtk.h>

namespace {
// The waiting notice while it stands.
GtkWidget* aviso = nullptr;

void Dibujar() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}
}  // namespace

extern "C" {

// 0 when no display can be opened.
__attribute__((visibility("default"))) int quelvar_dialogos_iniciar() {
  // Numbers are parsed and written without the process locale; GTK must not
  // change it.
  gtk_disable_setlocale();
  return gtk_init_check(nullptr, nullptr) ? 1 : 0;
}

// A modal box with one OK button; `icono` is a freedesktop icon name, or
// null for none. Returns once the user has pressed OK. GTK 3's own message
// dialog no longer shows an icon, hence a dialog built here.
__attribute__((visibility("default"))) void quelvar_dialogo(const char* texto, const char* icono,
                                                            const char* titulo) {
  GtkWidget* dialog = gtk_dialog_new_with_buttons(titulo, nullptr, GTK_DIALOG_MODAL, "OK",
                                                  GTK_RESPONSE_OK, nullptr);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(row), 12);
  if (icono != nullptr) {
    gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_icon_name(icono, GTK_ICON_SIZE_DIALOG),
                       FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(row), gtk_label_new(texto), TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row);
  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK));
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  // Let the dialog vanish before the run goes on.
  Dibujar();
}

// The notice that the run waits: a window of its own, not modal, with no
// button, that the window manager's close does not take away. Each call while
// it stands lets GTK draw it (and turn its spinner), as the run is not in a
// main loop.
__attribute__((visibility("default"))) void quelvar_aviso(const char* texto) {
  if (aviso == nullptr) {
    aviso = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(aviso), "Quelvar");
    gtk_window_set_position(GTK_WINDOW(aviso), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(aviso), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(aviso), FALSE);
    gtk_window_set_deletable(GTK_WINDOW(aviso), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(aviso), GDK_WINDOW_TYPE_HINT_DIALOG);
    g_signal_connect(aviso, "delete-event", G_CALLBACK(gtk_true), nullptr);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(row), 18);
    GtkWidget* spinner = gtk_spinner_new();
    gtk_spinner_start(GTK_SPINNER(spinner));
    gtk_box_pack_start(GTK_BOX(row), spinner, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new(texto), TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(aviso), row);
    gtk_widget_show_all(aviso);
  }
  Dibujar();
}

__attribute__((visibility("default"))) void quelvar_cerrar_aviso() {
  if (aviso == nullptr) return;
  gtk_widget_destroy(aviso);
  aviso = nullptr;
  Dibujar();
}
}
