// One window of the window helper (see gtk_window_posix.h).
#include "holm/ui/desktop/gtk_window_posix.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "holm/ui/desktop_protocol.h"

namespace holm::ui::desktop {
namespace {

// A closed drop-down list is as high as a push button of the templates.
constexpr int kOneLineHeightDu = 14;

int MulDiv(int v, int num, int den) {
  return (v * num + den / 2) / den;
}

std::string Css(const DialogTemplate& t) {
  const std::string font =
      "font-family: \"" + t.fontName + "\", Sans; font-size: " + std::to_string(t.fontSize) + "pt;";
  return "window.holm, window.holm * {" + font +
         "}\n"
         "window.holm button { min-height: 0; min-width: 0; padding: 0 4px; }\n"
         "window.holm combobox button { min-height: 0; padding: 0 2px 0 4px; }\n"
         "window.holm combobox arrow { min-height: 0; min-width: 10px; }\n"
         "window.holm radiobutton { padding: 0; min-height: 0; }\n"
         "window.holm radiobutton radio { margin: 0 4px 0 0; min-width: 12px; min-height: 12px; "
         "-gtk-icon-transform: scale(0.8); }\n"
         "window.holm headerbar { min-height: 0; padding: 2px 4px 2px 8px; }\n"
         "window.holm headerbar .title { font-weight: bold; }\n"
         "window.holm headerbar button { padding: 0; min-height: 18px; min-width: 18px; }\n"
         "window.holm frame > border { border-radius: 0; }\n"
         "window.holm progressbar trough, window.holm progressbar progress { min-height: 0; }\n"
         "window.holm progressbar.bordered trough { border: 1px solid #6c6c6c; border-radius: 0; "
         "}\n"
         "window.holm progressbar progress { border-radius: 0; }\n"
         "window.holm progressbar text { min-height: 0; }\n";
}

}  // namespace

GtkDialogWindow::GtkDialogWindow(const DialogTemplate& tmpl, std::string charset, Reporter report)
    : tmpl_(tmpl), charset_(std::move(charset)), report_(std::move(report)), model_(tmpl) {
  Build();
}

GtkDialogWindow::~GtkDialogWindow() {
  for (GtkWidget* w : noneRadios_) g_object_unref(w);
  if (window_ != nullptr) gtk_widget_destroy(window_);
}

std::string GtkDialogWindow::Utf8(const std::string& text) const {
  gchar* out = g_convert_with_fallback(text.c_str(), static_cast<gssize>(text.size()), "UTF-8",
                                       charset_.c_str(), "?", nullptr, nullptr, nullptr);
  if (out == nullptr) {
    gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    std::string r = valid;
    g_free(valid);
    return r;
  }
  std::string r = out;
  g_free(out);
  return r;
}

// "&COM Port:" -> "_COM Port:"; "&&" is a literal '&' and '_' is doubled.
std::string GtkDialogWindow::Mnemonic(const std::string& text) const {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out += '&';
        ++i;
      } else {
        out += '_';
      }
    } else if (text[i] == '_') {
      out += "__";
    } else {
      out += text[i];
    }
  }
  return Utf8(out);
}

void GtkDialogWindow::Build() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_style_context_add_class(gtk_widget_get_style_context(window_), "holm");
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, Css(tmpl_).c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  gtk_window_set_title(GTK_WINDOW(window_), Utf8(model_.Caption()).c_str());
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_deletable(GTK_WINDOW(window_), (tmpl_.style & kStyleSystemMenu) != 0);
  if (tmpl_.style & kStyleCentered)
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  if (tmpl_.style & kStyleCaption) {
    // The title bar is ours, so that it shows the template's style (a close
    // box only with a system menu) under any window manager.
    GtkWidget* bar = gtk_header_bar_new();
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar),
                                         (tmpl_.style & kStyleSystemMenu) != 0);
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(bar), ":close");
    gtk_window_set_titlebar(GTK_WINDOW(window_), bar);
    gtk_widget_show(bar);
  }
  g_signal_connect(window_, "key-press-event", G_CALLBACK(&GtkDialogWindow::OnKey), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(&GtkDialogWindow::OnDelete), this);

  // The dialog base units of the template's font at its size.
  PangoFontDescription* font = pango_font_description_from_string(
      (tmpl_.fontName + ",Sans " + std::to_string(tmpl_.fontSize)).c_str());
  PangoLayout* layout = gtk_widget_create_pango_layout(window_, nullptr);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  pango_font_description_free(font);
  if (w > 0 && h > 0) {
    baseX_ = (w / 26 + 1) / 2;
    baseY_ = h;
  }

  fixed_ = gtk_fixed_new();
  gtk_widget_set_size_request(fixed_, MulDiv(tmpl_.width, baseX_, 4),
                              MulDiv(tmpl_.height, baseY_, 8));
  gtk_container_add(GTK_CONTAINER(window_), fixed_);
  widgets_.assign(model_.Controls().size(), nullptr);
  for (size_t i = 0; i < widgets_.size(); ++i) widgets_[i] = MakeControl(i);
  // A label's mnemonic takes the focus to the control after it.
  for (size_t i = 0; i + 1 < widgets_.size(); ++i)
    if (model_.Controls()[i].tmpl->kind == ControlKind::kLabel)
      gtk_label_set_mnemonic_widget(GTK_LABEL(widgets_[i]), widgets_[i + 1]);
  PushAll();
}

void GtkDialogWindow::Place(GtkWidget* w, const DlgRect& r, bool oneLine) {
  const int height = oneLine ? std::min(r.height, kOneLineHeightDu) : r.height;
  gtk_widget_set_size_request(w, MulDiv(r.width, baseX_, 4), MulDiv(height, baseY_, 8));
  gtk_fixed_put(GTK_FIXED(fixed_), w, MulDiv(r.left, baseX_, 4), MulDiv(r.top, baseY_, 8));
}

GtkWidget* GtkDialogWindow::MakeControl(size_t index) {
  const ControlTemplate& c = *model_.Controls()[index].tmpl;
  GtkWidget* w = nullptr;
  switch (c.kind) {
    case ControlKind::kLabel:
      w = gtk_label_new_with_mnemonic(Mnemonic(c.text).c_str());
      gtk_label_set_xalign(GTK_LABEL(w), 0.0f);
      gtk_label_set_yalign(GTK_LABEL(w), 0.0f);
      break;
    case ControlKind::kDropDownList:
      w = gtk_combo_box_text_new();
      g_signal_connect(w, "changed", G_CALLBACK(&GtkDialogWindow::OnChanged), this);
      break;
    case ControlKind::kGroupBox:
      w = gtk_frame_new(nullptr);
      gtk_frame_set_label_widget(GTK_FRAME(w),
                                 gtk_label_new_with_mnemonic(Mnemonic(c.text).c_str()));
      gtk_widget_show(gtk_frame_get_label_widget(GTK_FRAME(w)));
      break;
    case ControlKind::kRadioButton: {
      // The group is the one of the first button of the template's group.
      const std::vector<int> group = model_.Group(c.id);
      GtkWidget* first = nullptr;
      if (!group.empty() && group.front() != c.id) {
        const ControlState* f = model_.Find(group.front());
        first = widgets_[static_cast<size_t>(f - model_.Controls().data())];
      } else {
        // A hidden member that is active when no button of the group is checked.
        first = gtk_radio_button_new(nullptr);
        g_object_ref_sink(first);
        noneRadios_.push_back(first);
      }
      w = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(first),
                                                         Mnemonic(c.text).c_str());
      g_signal_connect(w, "toggled", G_CALLBACK(&GtkDialogWindow::OnToggled), this);
      break;
    }
    case ControlKind::kPushButton:
      w = gtk_button_new_with_mnemonic(Mnemonic(c.text).c_str());
      g_signal_connect(w, "clicked", G_CALLBACK(&GtkDialogWindow::OnClicked), this);
      if (c.defaultButton) {
        gtk_widget_set_can_default(w, TRUE);
        gtk_window_set_default(GTK_WINDOW(window_), w);
      }
      break;
    case ControlKind::kProgressBar:
      w = gtk_progress_bar_new();
      gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(w), TRUE);
      if (c.bordered) gtk_style_context_add_class(gtk_widget_get_style_context(w), "bordered");
      break;
  }
  Place(w, c.rect, c.kind == ControlKind::kDropDownList);
  return w;
}

void GtkDialogWindow::PushToWidget(size_t index) {
  const ControlState& c = model_.Controls()[index];
  GtkWidget* w = widgets_[index];
  updating_ = true;
  switch (c.tmpl->kind) {
    case ControlKind::kLabel:
      gtk_label_set_text_with_mnemonic(GTK_LABEL(w), Mnemonic(c.text).c_str());
      break;
    case ControlKind::kDropDownList: {
      GtkComboBoxText* combo = GTK_COMBO_BOX_TEXT(w);
      gtk_combo_box_text_remove_all(combo);
      for (const std::string& item : c.items)
        gtk_combo_box_text_append_text(combo, Utf8(item).c_str());
      gtk_combo_box_set_active(GTK_COMBO_BOX(w), c.selected);
      break;
    }
    case ControlKind::kRadioButton: {
      gtk_button_set_label(GTK_BUTTON(w), Mnemonic(c.text).c_str());
      if (c.checked) {
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), TRUE);
      } else if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w))) {
        // No button of the group checked: the hidden member is.
        GSList* group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(w));
        for (GtkWidget* none : noneRadios_)
          if (g_slist_find(group, none))
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(none), TRUE);
      }
      break;
    }
    case ControlKind::kProgressBar: {
      const long long span = static_cast<long long>(c.rangeMax) - c.rangeMin;
      const long long done = static_cast<long long>(c.pos) - c.rangeMin;
      const double fraction =
          span > 0 ? std::clamp(static_cast<double>(done) / span, 0.0, 1.0) : 0.0;
      const long long percent = span > 0 ? std::clamp(done * 100 / span, 0LL, 100LL) : 0;
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(w), fraction);
      gtk_progress_bar_set_text(GTK_PROGRESS_BAR(w), (std::to_string(percent) + "%").c_str());
      break;
    }
    default:
      if (GTK_IS_BUTTON(w)) gtk_button_set_label(GTK_BUTTON(w), Mnemonic(c.text).c_str());
      break;
  }
  gtk_widget_set_visible(w, c.visible);
  updating_ = false;
  Log(index);
}

// With HOLM_UI_HELPER_LOG set, every control brought up to date is written
// to that file as the widget holds it, for diagnosis (and the tests).
void GtkDialogWindow::Log(size_t index) const {
  static FILE* const log = [] {
    const char* path = std::getenv("HOLM_UI_HELPER_LOG");
    return path != nullptr && *path != '\0' ? std::fopen(path, "a") : nullptr;
  }();
  if (log == nullptr) return;
  GtkWidget* w = widgets_[index];
  std::string shown;
  if (GTK_IS_LABEL(w)) shown = gtk_label_get_text(GTK_LABEL(w));
  if (GTK_IS_PROGRESS_BAR(w)) shown = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(w));
  if (GTK_IS_RADIO_BUTTON(w))
    shown = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w)) ? "checked" : "unchecked";
  if (GTK_IS_COMBO_BOX_TEXT(w)) {
    gchar* t = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(w));
    shown = t != nullptr ? t : "";
    g_free(t);
  }
  std::fprintf(log, "%d %d %s %s\n", tmpl_.id, model_.Controls()[index].tmpl->id,
               gtk_widget_get_visible(w) ? "shown" : "hidden", shown.c_str());
  std::fflush(log);
}

void GtkDialogWindow::PushAll() {
  gtk_window_set_title(GTK_WINDOW(window_), Utf8(model_.Caption()).c_str());
  for (size_t i = 0; i < widgets_.size(); ++i) PushToWidget(i);
}

void GtkDialogWindow::Apply(const std::vector<std::string>& fields) {
  if (!ApplyState(fields, model_)) return;
  if (fields[0] == "caption") {
    gtk_window_set_title(GTK_WINDOW(window_), Utf8(model_.Caption()).c_str());
    return;
  }
  const int id = IntField(fields, 1, kStaticId);
  const ControlState* c = model_.Find(id);
  if (c == nullptr) return;
  const auto index = static_cast<size_t>(c - model_.Controls().data());
  if (c->tmpl->kind == ControlKind::kRadioButton) {
    // Checking one button unchecked the others of its group.
    for (size_t i = 0; i < widgets_.size(); ++i)
      if (model_.Controls()[i].tmpl->kind == ControlKind::kRadioButton) PushToWidget(i);
  } else {
    PushToWidget(index);
  }
}

void GtkDialogWindow::Show() {
  gtk_widget_show(fixed_);
  gtk_widget_show(window_);
}

void GtkDialogWindow::Hide() {
  gtk_widget_hide(window_);
}

void GtkDialogWindow::StartModal() {
  modal_ = true;
  // The focus starts where the keyboard model has it (the first tab stop).
  nav_ = std::make_unique<ModalNavigator>(model_);
  gtk_window_set_focus_visible(GTK_WINDOW(window_), TRUE);
  Show();
  if (nav_->Focused() >= 0) gtk_widget_grab_focus(widgets_[static_cast<size_t>(nav_->Focused())]);
  gtk_window_present(GTK_WINDOW(window_));
}

int GtkDialogWindow::IndexOfWidget(GtkWidget* w) const {
  for (size_t i = 0; w != nullptr && i < widgets_.size(); ++i)
    if (widgets_[i] == w || gtk_widget_is_ancestor(w, widgets_[i])) return static_cast<int>(i);
  return -1;
}

void GtkDialogWindow::Press(int id) {
  if (!modal_ || waiting_ || (id != kIdOk && id != kIdCancel)) return;
  waiting_ = true;
  report_(ChoiceMessages(model_) + "button " + std::to_string(id) + "\n");
}

bool GtkDialogWindow::HandleKey(const GdkEventKey* event) {
  if (event->state & (GDK_MOD1_MASK | GDK_CONTROL_MASK)) return false;  // mnemonics, F4 and so on
  Key key = Key::kOther;
  switch (event->keyval) {
    case GDK_KEY_Tab:
    case GDK_KEY_KP_Tab:
      key = (event->state & GDK_SHIFT_MASK) ? Key::kBackTab : Key::kTab;
      break;
    case GDK_KEY_ISO_Left_Tab:
      key = Key::kBackTab;
      break;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
      key = Key::kUp;
      break;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
      key = Key::kDown;
      break;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
      key = Key::kLeft;
      break;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
      key = Key::kRight;
      break;
    case GDK_KEY_space:
    case GDK_KEY_KP_Space:
      key = Key::kSpace;
      break;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
      key = Key::kEnter;
      break;
    case GDK_KEY_Escape:
      key = Key::kEscape;
      break;
    default:
      return false;
  }
  // A window without a cancel path takes no keys.
  if (!modal_ || !nav_ || waiting_) return true;
  nav_->SetFocused(IndexOfWidget(gtk_window_get_focus(GTK_WINDOW(window_))));
  const int pressed = nav_->Handle(key);
  PushAll();
  if (nav_->Focused() >= 0) gtk_widget_grab_focus(widgets_[static_cast<size_t>(nav_->Focused())]);
  if (pressed != 0) Press(pressed);
  return true;
}

gboolean GtkDialogWindow::OnKey(GtkWidget*, GdkEventKey* event, gpointer self) {
  return static_cast<GtkDialogWindow*>(self)->HandleKey(event) ? TRUE : FALSE;
}

gboolean GtkDialogWindow::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  // The close box is Cancel; the window itself goes when the client says so.
  static_cast<GtkDialogWindow*>(self)->Press(kIdCancel);
  return TRUE;
}

void GtkDialogWindow::OnChanged(GtkComboBox* combo, gpointer self) {
  auto* me = static_cast<GtkDialogWindow*>(self);
  if (me->updating_) return;
  const int index = me->IndexOfWidget(GTK_WIDGET(combo));
  if (index < 0) return;
  me->model_.SetSelectedIndex(me->model_.Controls()[static_cast<size_t>(index)].tmpl->id,
                              gtk_combo_box_get_active(combo));
}

void GtkDialogWindow::OnToggled(GtkToggleButton* radio, gpointer self) {
  auto* me = static_cast<GtkDialogWindow*>(self);
  if (me->updating_ || !gtk_toggle_button_get_active(radio)) return;
  const int index = me->IndexOfWidget(GTK_WIDGET(radio));
  if (index >= 0)
    me->model_.SetChecked(me->model_.Controls()[static_cast<size_t>(index)].tmpl->id, true);
}

void GtkDialogWindow::OnClicked(GtkButton* button, gpointer self) {
  auto* me = static_cast<GtkDialogWindow*>(self);
  const int index = me->IndexOfWidget(GTK_WIDGET(button));
  if (index >= 0) me->Press(me->model_.Controls()[static_cast<size_t>(index)].tmpl->id);
}

}  // namespace holm::ui::desktop
