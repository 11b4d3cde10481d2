// The "Devices" window of the icon menu: every removable volume present, the
// device behind it and what the watcher does for it and why. While open it
// observes the application object and reads the list again when a volume
// comes or goes. It runs on a
// thread of its own and hands every slow piece of work (identification,
// scoring runs, the decision itself) to worker threads that post their
// results back, so neither the icon nor the window waits for a device or a
// module program.
#pragma once

#include <windows.h>

#include <vector>

#include "app/ArrivalDecision.h"
#include "platform/XpString.h"

namespace DevicesWindow {

// Opens the window from the localisation library's template, or brings the
// open one to the front. Nothing happens without the template.
void Open(HMODULE resources);
// Closes an open window and waits at most waitMs for its thread and
// workers; false when one of them was still running then. Its scoring runs
// end with the watcher's cancellation (a stop, the session's end, the exit),
// which comes first.
bool Close(DWORD waitMs);
// The window's handle while it is open (null otherwise).
HWND Window();

}  // namespace DevicesWindow

// Texts of the window, kept apart from it so that they can be checked alone.
namespace DevicesText {

// format with %1 .. %9 replaced by args[0] .. args[8]; a placeholder without an
// argument, and any other "%", stays as written, so a translated text never
// reads what is not there.
XpString FormatPlaceholders(const XpString& format, const std::vector<XpString>& args);
// The parts of a text separated by "|".
std::vector<XpString> SplitBars(const XpString& text);

// The texts a decision is shown with; the formats come from the library.
struct Formats {
  XpString launch;              // %1 program, %2 arguments, %3 rule
  XpString ignored;             // %1 rule
  XpString importers;           // before the modules are asked
  XpString scores;              // %1 the list of module scores
  XpString scoreItem;           // %1 module name, %2 score
  XpString noModule;            // the modules were asked and none claims the volume
  std::vector<XpString> buses;  // by bus type number
};

struct ModuleScore {
  XpString name;
  int score;
};

XpString DecisionText(const ArrivalDecision& decision, const Formats& formats);
// scored false: the modules were not asked yet.
XpString ImportersText(bool scored, const std::vector<ModuleScore>& scores, const Formats& formats);
XpString BusText(const ArrivalDecision& decision, const Formats& formats);
// "1234:0010", or empty when the device was not identified or an id is unknown.
XpString IdsText(const ArrivalDecision& decision);

}  // namespace DevicesText
