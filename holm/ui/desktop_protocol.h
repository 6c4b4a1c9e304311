// The line protocol between the desktop backend (in the client's process)
// and the window helper program that draws its windows. One message per
// line: a verb, then fields separated by single blanks. Numbers are decimal;
// texts are fields that begin with '=' and carry their bytes with every
// byte below '!', '%' and DEL written as %XX (so "=" is the empty text).
//
// Client to helper:
//   template ID WIDTH HEIGHT FONTSIZE STYLE =FONT =CAPTION
//   control ID KIND LEFT TOP WIDTH HEIGHT FLAGS =TEXT   (one per control, in order)
//   build                         create the window (hidden) from the above
//   caption =TEXT | text ID =TEXT | visible ID 0|1
//   items ID =ITEM... | select ID INDEX | check ID 0|1 | bar ID MIN MAX POS
//   show | hide                   a modeless window
//   modal                         show modally; the helper answers with the
//                                 state and the pressed button (below)
//   resume                        OK was refused: the dialog stays open
//   ping N                        answered with "pong N" once drawn
//   quit                          the helper closes its window and exits
// Helper to client:
//   ready | error =REASON         after start-up (display opened or not)
//   select ID INDEX | check ID 0|1 ... button ID   the state when a button
//                                 (1 = OK, 2 = Cancel, Escape, close box) ends a modal dialog
//   pong N
#ifndef HOLM_UI_DESKTOP_PROTOCOL_H
#define HOLM_UI_DESKTOP_PROTOCOL_H

#include <string>
#include <string_view>
#include <vector>

#include "holm/ui/ui.h"

namespace holm::ui::desktop {

// A text as a field ("=..."), and back (a field without '=' reads as itself).
std::string TextField(std::string_view text);
std::string FieldText(std::string_view field);

// A line split at blanks (without its line end).
std::vector<std::string> SplitLine(std::string_view line);

// Integer field; fallback when the field is not a number.
int IntField(const std::vector<std::string>& fields, size_t index, int fallback = 0);

// The template lines and "build".
std::string TemplateMessages(const DialogTemplate& tmpl);
// Reads one "template" or "control" line into tmpl; false for other verbs.
bool ReadTemplateLine(const std::vector<std::string>& fields, DialogTemplate& tmpl);

// The lines that bring the helper's window up to the model: one part (a
// control id or kCaptionPart), or every part.
std::string StateMessages(const Dialog& dlg, int part);
std::string AllStateMessages(const Dialog& dlg);

// The state lines a helper sends back when a modal dialog ends (the choices
// of lists and radio buttons), and how the client takes them into its model.
std::string ChoiceMessages(const Dialog& dlg);
// Applies one "select" or "check" line to dlg; false for other verbs.
bool ApplyChoice(const std::vector<std::string>& fields, Dialog& dlg);
// Applies one state line (caption, text, visible, items, select, check,
// bar) to dlg; false for other verbs.
bool ApplyState(const std::vector<std::string>& fields, Dialog& dlg);

}  // namespace holm::ui::desktop

#endif  // HOLM_UI_DESKTOP_PROTOCOL_H
