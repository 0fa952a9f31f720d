// The GTK 3 dialogs, in a module of their own that the program loads only when
// there is a display to show them on: a run without one never maps GTK.
#include <gtk/gtk.h>

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
  while (gtk_events_pending()) gtk_main_iteration();
}
}
