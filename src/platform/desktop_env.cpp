#include "platform/desktop_env.h"

#include <gtk/gtk.h>

#include <string>

#include "platform/system_env.h"

namespace quelvar {
namespace {

class DesktopEnv final : public TerminalEnv {
 public:
  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override {
    TerminalEnv::ShowMessage(text, icon, title);
    const char* icon_name = icon == Icon::kInformation ? "dialog-information"
                            : icon == Icon::kCritical  ? "dialog-error"
                                                       : nullptr;
    Dialog(std::string(text), icon_name, std::string(title));
  }

  void ShowFailureNotice(const Failure& failure) override {
    TerminalEnv::ShowFailureNotice(failure);
    Dialog("Error " + std::to_string(failure.number()) + ": " + failure.description(),
           "dialog-error", std::string(kAppTitle));
  }

  // The program has no window of its own to show an hourglass over, so the
  // busy pointer stays as the terminal has it.

 private:
  // A message dialog of our own: GTK 3's stock one no longer shows an icon.
  static void Dialog(const std::string& text, const char* icon_name, const std::string& title) {
    GtkWidget* dialog = gtk_dialog_new_with_buttons(title.c_str(), nullptr, GTK_DIALOG_MODAL, "OK",
                                                    GTK_RESPONSE_OK, nullptr);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(row), 12);
    if (icon_name != nullptr) {
      gtk_box_pack_start(GTK_BOX(row),
                         gtk_image_new_from_icon_name(icon_name, GTK_ICON_SIZE_DIALOG), FALSE,
                         FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new(text.c_str()), TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row);
    gtk_widget_show_all(dialog);
    gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK));
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    // Let the dialog vanish before the run goes on.
    while (gtk_events_pending()) gtk_main_iteration();
  }
};

}  // namespace

std::unique_ptr<Env> NewDesktopEnv() {
  // Numbers are parsed and written without the process locale; GTK must not
  // change it.
  gtk_disable_setlocale();
  if (!gtk_init_check(nullptr, nullptr)) return nullptr;
  return std::make_unique<DesktopEnv>();
}

}  // namespace quelvar
