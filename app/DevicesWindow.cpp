#include "app/DevicesWindow.h"

#include <commctrl.h>

#include <new>

#include "app/ArrivalObserver.h"
#include "app/LaunchSettings.h"
#include "app/VolumeWatcherApp.h"
#include "app/WatcherSettings.h"
#include "app/res/LocResources.h"
#include "modules/SfImporterModule.h"
#include "platform/XpCancellation.h"
#include "platform/XpResult.h"
#include "platform/XpSync.h"
#include "platform/XpThread.h"

// ---- texts ----

namespace DevicesText {

XpString FormatPlaceholders(const XpString& format, const std::vector<XpString>& args) {
  XpString result;
  int n = format.GetLength();
  int runStart = 0;
  for (int i = 0; i + 1 < n; ++i) {
    if (*format.At(i) != L'%') continue;
    wchar_t next = *format.At(i + 1);
    if (next < L'1' || next > L'9') continue;
    size_t index = static_cast<size_t>(next - L'1');
    if (index >= args.size()) continue;
    result += format.Left(i).Right(i - runStart);
    result += args[index];
    ++i;
    runStart = i + 1;
  }
  result += format.Right(n - runStart);
  return result;
}

std::vector<XpString> SplitBars(const XpString& text) {
  std::vector<XpString> parts;
  int start = 0;
  for (;;) {
    int bar = text.Find(L'|', start);
    if (bar < 0) {
      parts.push_back(text.Right(text.GetLength() - start));
      return parts;
    }
    parts.push_back(text.Left(bar).Right(bar - start));
    start = bar + 1;
  }
}

XpString DecisionText(const ArrivalDecision& decision, const Formats& formats) {
  if (decision.kind == kDeviceRuleLaunch) {
    std::vector<XpString> args;
    args.push_back(decision.program);
    args.push_back(decision.arguments);
    args.push_back(decision.rule.name);
    return FormatPlaceholders(formats.launch, args);
  }
  if (decision.kind == kDeviceRuleIgnore) {
    std::vector<XpString> args(1, decision.rule.name);
    return FormatPlaceholders(formats.ignored, args);
  }
  return formats.importers;
}

XpString ImportersText(bool scored, const std::vector<ModuleScore>& scores, const Formats& formats) {
  if (!scored) return formats.importers;
  if (scores.empty()) return formats.noModule;
  XpString list;
  for (size_t i = 0; i < scores.size(); ++i) {
    std::vector<XpString> args;
    args.push_back(scores[i].name);
    wchar_t number[16];
    wsprintfW(number, L"%d", scores[i].score);
    args.push_back(number);
    if (i > 0) list += L", ";
    list += FormatPlaceholders(formats.scoreItem, args);
  }
  return FormatPlaceholders(formats.scores, std::vector<XpString>(1, list));
}

XpString BusText(const ArrivalDecision& decision, const Formats& formats) {
  size_t bus = decision.identified && decision.busType > 0 ? static_cast<size_t>(decision.busType) : 0;
  if (bus < formats.buses.size() && !formats.buses[bus].IsEmpty()) return formats.buses[bus];
  return formats.buses.empty() ? XpString() : formats.buses[0];
}

XpString IdsText(const ArrivalDecision& decision) {
  if (!decision.identified || decision.facts.vendorId > 0xFFFF || decision.facts.productId > 0xFFFF)
    return XpString();
  wchar_t text[16];
  wsprintfW(text, L"%04X:%04X", static_cast<unsigned>(decision.facts.vendorId),
            static_cast<unsigned>(decision.facts.productId));
  return text;
}

}  // namespace DevicesText

// ---- the window ----

namespace {

using namespace DevicesText;

enum {
  kListResult = WM_APP + 20,   // lParam: ListWork*
  kScoreResult = WM_APP + 21,  // lParam: ScoreWork*
  kVolumesChanged = WM_APP + 22,
  kRefreshTimer = 1,
};
const UINT kRefreshDelayMs = 400;
enum Column { kDrive, kLabel, kBus, kIds, kSerial, kDecision, kColumnCount };

// One removable volume as the window shows it.
struct Row {
  ArrivalDecision decision;
  bool scored;
  std::vector<ModuleScore> scores;
};

struct ListWork {
  HWND dialog;
  unsigned generation;
  std::vector<ArrivalDecision> decisions;
};

struct ScoreWork {
  HWND dialog;
  XpString root;
  std::vector<ModuleScore> scores;
};

struct RunWork {
  XpString root;
};

// Where each control goes when the window is resized: the share of the width
// and height change added to its left, top, width and height.
struct Anchor {
  int id;
  bool moveX, moveY, growX, growY;
};
const Anchor kAnchors[] = {
    {IDC_DEVICES_LIST, false, false, true, true},  {IDC_DEVICES_DETAILS, false, true, true, false},
    {IDC_DEVICES_RUN, false, true, false, false},  {IDC_DEVICES_IGNORE, false, true, false, false},
    {IDC_DEVICES_COPY, false, true, false, false}, {IDC_DEVICES_SCORE, false, true, false, false},
    {IDCANCEL, true, true, false, false},
};
const int kAnchorCount = sizeof(kAnchors) / sizeof(kAnchors[0]);

struct DialogState {
  HMODULE resources;
  Formats formats;
  std::vector<XpString> columns;
  std::vector<Row> rows;
  unsigned generation;
  // One listing and one scoring at a time: a device that hangs holds up one
  // worker, never a growing pile of them. A change seen while listing is
  // listed again once the listing ends.
  bool listing;
  bool listAgain;
  bool scoring;
  SIZE minimum;
  SIZE client;
  RECT controls[kAnchorCount];
};

// Shared between the icon's thread, the window's thread and the workers. The
// lock is never destroyed: a watcher thread may still report a volume while
// the program's statics go.
XpCriticalSection& WindowLock() {
  static XpCriticalSection* lock = new XpCriticalSection;
  return *lock;
}
HWND g_dialog = NULL;
// The window's thread (one at a time) and the workers, joined when they have
// ended or, with a bound, at the window's close. Like the lock, never
// destroyed: nothing that waits may run in static destruction.
XpThreadSet& WindowThreads() {
  static XpThreadSet* threads = new XpThreadSet;
  return *threads;
}
XpThreadSet& Workers() {
  static XpThreadSet* workers = new XpThreadSet;
  return *workers;
}
// Hears of volumes coming and going for the open window; it only posts.
class WindowObserver : public IArrivalObserver {
 public:
  void OnVolumesChanged() override {
    XpSingleLock guard(&WindowLock());
    if (g_dialog) PostMessageW(g_dialog, kVolumesChanged, 0, 0);
  }
  void OnArrivalDecided(const ArrivalDecision&) override {}
};
WindowObserver g_observer;

XpString LoadText(HMODULE resources, UINT id, const wchar_t* fallback) {
  wchar_t text[1024];
  text[0] = L'\0';
  if (resources && LoadStringW(resources, id, text, 1024) > 0) return text;
  return fallback;
}

// Runs work on a thread of its own, joined when it has ended or, with a
// bound, at the window's close.
bool StartWorker(XpThreadFunction function, void* work) { return Workers().Start(function, work); }

// Posts a result to the window; a window that is gone no longer wants it.
template <class Work>
void PostResult(HWND dialog, UINT message, Work* work) {
  if (!PostMessageW(dialog, message, 0, reinterpret_cast<LPARAM>(work))) delete work;
}

unsigned int ListWorker(void* argument) {
  ListWork* work = static_cast<ListWork*>(argument);
  std::vector<XpString> roots = PresentRemovableVolumes();
  for (size_t i = 0; i < roots.size(); ++i)
    work->decisions.push_back(DecideForVolume(roots[i], getApp().deviceIdentification(), true));
  PostResult(work->dialog, kListResult, work);
  return 0;
}

unsigned int ScoreWorker(void* argument) {
  ScoreWork* work = static_cast<ScoreWork*>(argument);
  XpCancellation& cancellation = getApp().cancellation();
  const LONG epoch = cancellation.epoch();
  XpSharedPtr<SfImporterModuleManager> manager = getApp().moduleManager();
  if (manager) {
    const SfImporterModuleList& modules = manager->modules();
    for (size_t i = 0; i < modules.size(); ++i) {
      if ((modules[i]->supportedDevices() & SF_DEVICE_VOLUME) == 0) continue;
      if (!cancellation.mayContinue(epoch)) break;
      int score = 0;
      // The bound the watcher's own decisions use; a module that cannot be
      // started or answer in time claims nothing and is not listed.
      if (XpFailed(modules[i]->runImportScore(work->root, ReadScoreTimeout(), cancellation.event(), &score)))
        continue;
      ModuleScore entry = {modules[i]->visibleName(), score};
      work->scores.push_back(entry);
    }
  }
  PostResult(work->dialog, kScoreResult, work);
  return 0;
}

unsigned int RunWorker(void* argument) {
  RunWork* work = static_cast<RunWork*>(argument);
  getApp().decideVolumeOnRequest(work->root);
  delete work;
  return 0;
}

DialogState* State(HWND dialog) {
  return reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_DEVICES_LIST); }

int SelectedRow(HWND dialog) {
  return static_cast<int>(
      SendMessageW(List(dialog), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

XpString RowDecisionText(const Row& row, const Formats& formats) {
  if (row.decision.kind != kDeviceRuleNone) return DecisionText(row.decision, formats);
  return ImportersText(row.scored, row.scores, formats);
}

XpString CellText(const Row& row, int column, const Formats& formats) {
  const ArrivalDecision& d = row.decision;
  switch (column) {
    case kDrive:
      return d.path;
    case kLabel:
      return d.facts.labelKnown ? d.facts.label : XpString();
    case kBus:
      return BusText(d, formats);
    case kIds:
      return IdsText(d);
    case kSerial:
      return d.facts.serialKnown ? d.facts.serial : XpString();
    default:
      return RowDecisionText(row, formats);
  }
}

// One line per column, "Title: value", as the window shows and copies it.
XpString RowDetails(const DialogState& state, const Row& row) {
  XpString text;
  for (int c = 0; c < kColumnCount; ++c) {
    if (c > 0) text += L"\r\n";
    text += c < static_cast<int>(state.columns.size()) ? state.columns[static_cast<size_t>(c)] : XpString();
    text += L": ";
    text += CellText(row, c, state.formats);
  }
  return text;
}

void SetCell(HWND list, int item, int column, const XpString& text, bool insert) {
  LVITEMW lv;
  ZeroMemory(&lv, sizeof(lv));
  lv.mask = LVIF_TEXT;
  lv.iItem = item;
  lv.iSubItem = column;
  lv.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(list, insert ? LVM_INSERTITEMW : LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
}

void ShowDetails(HWND dialog) {
  DialogState* state = State(dialog);
  if (!state) return;
  int selected = SelectedRow(dialog);
  bool valid = selected >= 0 && selected < static_cast<int>(state->rows.size());
  XpString details = valid ? RowDetails(*state, state->rows[static_cast<size_t>(selected)]) : XpString();
  SetDlgItemTextW(dialog, IDC_DEVICES_DETAILS, details.c_str());
  EnableWindow(GetDlgItem(dialog, IDC_DEVICES_RUN), valid);
  EnableWindow(GetDlgItem(dialog, IDC_DEVICES_COPY), valid);
  EnableWindow(GetDlgItem(dialog, IDC_DEVICES_SCORE),
               valid && state->rows[static_cast<size_t>(selected)].decision.kind == kDeviceRuleNone);
  EnableWindow(GetDlgItem(dialog, IDC_DEVICES_IGNORE),
               valid && state->rows[static_cast<size_t>(selected)].decision.identified);
}

void FillList(HWND dialog, const XpString& keepSelected) {
  DialogState* state = State(dialog);
  HWND list = List(dialog);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  int select = state->rows.empty() ? -1 : 0;
  for (size_t i = 0; i < state->rows.size(); ++i) {
    int item = static_cast<int>(i);
    for (int c = 0; c < kColumnCount; ++c)
      SetCell(list, item, c, CellText(state->rows[i], c, state->formats), c == 0);
    if (!keepSelected.IsEmpty() && state->rows[i].decision.path.CompareNoCase(keepSelected.c_str()) == 0)
      select = item;
  }
  if (select >= 0) {
    LVITEMW lv;
    ZeroMemory(&lv, sizeof(lv));
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(select), reinterpret_cast<LPARAM>(&lv));
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, NULL, TRUE);
  ShowDetails(dialog);
}

void Refresh(HWND dialog) {
  DialogState* state = State(dialog);
  if (!state) return;
  if (state->listing) {
    state->listAgain = true;
    return;
  }
  ListWork* work = new (std::nothrow) ListWork;
  if (!work) return;
  work->dialog = dialog;
  work->generation = ++state->generation;
  state->listAgain = false;
  state->listing = StartWorker(&ListWorker, work);
  if (!state->listing) delete work;
}

void OnListResult(HWND dialog, ListWork* work) {
  DialogState* state = State(dialog);
  // Only the newest listing counts; an older one may miss a change.
  if (state && work->generation == state->generation) {
    int selected = SelectedRow(dialog);
    XpString keep = selected >= 0 && selected < static_cast<int>(state->rows.size())
                        ? state->rows[static_cast<size_t>(selected)].decision.path
                        : XpString();
    std::vector<Row> rows;
    for (size_t i = 0; i < work->decisions.size(); ++i) {
      Row row;
      row.decision = work->decisions[i];
      row.scored = false;
      // Scores of a volume still present stay until it is asked again.
      for (size_t j = 0; j < state->rows.size(); ++j) {
        if (state->rows[j].scored &&
            state->rows[j].decision.path.CompareNoCase(row.decision.path.c_str()) == 0) {
          row.scored = true;
          row.scores = state->rows[j].scores;
        }
      }
      rows.push_back(row);
    }
    state->rows = rows;
    FillList(dialog, keep);
  }
  delete work;
  if (state) {
    state->listing = false;
    if (state->listAgain) Refresh(dialog);
  }
}

void OnScoreResult(HWND dialog, ScoreWork* work) {
  DialogState* state = State(dialog);
  if (state) {
    state->scoring = false;
    for (size_t i = 0; i < state->rows.size(); ++i) {
      if (state->rows[i].decision.path.CompareNoCase(work->root.c_str()) != 0) continue;
      state->rows[i].scored = true;
      state->rows[i].scores = work->scores;
    }
    int selected = SelectedRow(dialog);
    XpString keep = selected >= 0 && selected < static_cast<int>(state->rows.size())
                        ? state->rows[static_cast<size_t>(selected)].decision.path
                        : XpString();
    FillList(dialog, keep);
  }
  delete work;
}

void CopyText(HWND dialog, const XpString& text) {
  if (!OpenClipboard(dialog)) return;
  EmptyClipboard();
  SIZE_T bytes = (static_cast<SIZE_T>(text.GetLength()) + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory) {
    void* target = GlobalLock(memory);
    if (target) {
      CopyMemory(target, text.c_str(), bytes);
      GlobalUnlock(memory);
      // The clipboard owns the memory from here on.
      if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
    } else {
      GlobalFree(memory);
    }
  }
  CloseClipboard();
}

void OnCommand(HWND dialog, int id) {
  DialogState* state = State(dialog);
  // Enter (IDOK) closes nothing: the window has no default action.
  if (id == IDCANCEL) {
    DestroyWindow(dialog);
    return;
  }
  if (!state) return;
  int selected = SelectedRow(dialog);
  if (selected < 0 || selected >= static_cast<int>(state->rows.size())) return;
  Row& row = state->rows[static_cast<size_t>(selected)];
  if (id == IDC_DEVICES_RUN) {
    RunWork* work = new (std::nothrow) RunWork;
    if (!work) return;
    work->root = row.decision.path;
    if (!StartWorker(&RunWorker, work)) delete work;
  } else if (id == IDC_DEVICES_SCORE) {
    if (state->scoring) return;
    ScoreWork* work = new (std::nothrow) ScoreWork;
    if (!work) return;
    work->dialog = dialog;
    work->root = row.decision.path;
    state->scoring = StartWorker(&ScoreWorker, work);
    if (!state->scoring) delete work;
  } else if (id == IDC_DEVICES_IGNORE) {
    if (!row.decision.identified) return;
    XpString name;
    // A serial, where known, keeps the rule to this one device.
    if (AddUserIgnoreRule(row.decision.facts, row.decision.facts.serialKnown, &name) == XP_OK)
      Refresh(dialog);
  } else if (id == IDC_DEVICES_COPY) {
    CopyText(dialog, RowDetails(*state, row));
  }
}

void Layout(HWND dialog) {
  DialogState* state = State(dialog);
  if (!state) return;
  RECT client;
  GetClientRect(dialog, &client);
  int dx = (client.right - client.left) - state->client.cx;
  int dy = (client.bottom - client.top) - state->client.cy;
  HDWP positions = BeginDeferWindowPos(kAnchorCount);
  for (int i = 0; i < kAnchorCount && positions; ++i) {
    HWND control = GetDlgItem(dialog, kAnchors[i].id);
    if (!control) continue;
    const RECT& r = state->controls[i];
    int x = r.left + (kAnchors[i].moveX ? dx : 0);
    int y = r.top + (kAnchors[i].moveY ? dy : 0);
    int w = (r.right - r.left) + (kAnchors[i].growX ? dx : 0);
    int h = (r.bottom - r.top) + (kAnchors[i].growY ? dy : 0);
    positions = DeferWindowPos(positions, control, NULL, x, y, w > 0 ? w : 0, h > 0 ? h : 0,
                               SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (positions) EndDeferWindowPos(positions);
}

void InitDialog(HWND dialog, DialogState* state) {
  SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  HMODULE r = state->resources;
  state->columns = SplitBars(LoadText(r, IDS_DEVICES_COLUMNS,
                                      L"Drive|Volume label|Bus|VID:PID|Serial number|What the watcher does"));
  Formats& f = state->formats;
  f.launch = LoadText(r, IDS_DEVICES_LAUNCH, L"Launch: %1 %2 (rule %3)");
  f.ignored = LoadText(r, IDS_DEVICES_IGNORED, L"Ignored (rule %1)");
  f.importers = LoadText(r, IDS_DEVICES_IMPORTERS, L"Importer modules");
  f.scores = LoadText(r, IDS_DEVICES_SCORES, L"Importer modules: %1");
  f.scoreItem = LoadText(r, IDS_DEVICES_SCORE_ITEM, L"%1 scores %2");
  f.noModule = LoadText(r, IDS_DEVICES_NO_MODULE, L"Importer modules: none claims it");
  f.buses = SplitBars(LoadText(r, IDS_DEVICES_BUSES, L"Unknown|||USB|IEEE 1394|PCMCIA"));

  RECT client;
  GetClientRect(dialog, &client);
  state->client.cx = client.right - client.left;
  state->client.cy = client.bottom - client.top;
  RECT window;
  GetWindowRect(dialog, &window);
  state->minimum.cx = window.right - window.left;
  state->minimum.cy = window.bottom - window.top;
  for (int i = 0; i < kAnchorCount; ++i) {
    SetRectEmpty(&state->controls[i]);
    HWND control = GetDlgItem(dialog, kAnchors[i].id);
    if (!control) continue;
    GetWindowRect(control, &state->controls[i]);
    MapWindowPoints(NULL, dialog, reinterpret_cast<POINT*>(&state->controls[i]), 2);
  }

  HWND list = List(dialog);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
  RECT listRect;
  GetClientRect(list, &listRect);
  // Shares of the list's width: the decision gets the most room.
  const int shares[kColumnCount] = {8, 14, 8, 11, 17, 42};
  int width = listRect.right - listRect.left;
  for (int c = 0; c < kColumnCount; ++c) {
    LVCOLUMNW column;
    ZeroMemory(&column, sizeof(column));
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = width * shares[c] / 100;
    column.iSubItem = c;
    XpString title =
        c < static_cast<int>(state->columns.size()) ? state->columns[static_cast<size_t>(c)] : XpString();
    column.pszText = const_cast<wchar_t*>(title.c_str());
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
  }
  {
    XpSingleLock guard(&WindowLock());
    g_dialog = dialog;
  }
  // Outside the window lock, which the observer takes: removal waits for a
  // call in progress. Without it the list is read again only by the system's
  // own volume broadcasts.
  (void)getApp().addObserver(&g_observer);
  ShowDetails(dialog);
  Refresh(dialog);
}

void DrainResults(HWND dialog) {
  MSG message;
  while (PeekMessageW(&message, dialog, kListResult, kScoreResult, PM_REMOVE)) {
    if (message.message == kListResult)
      delete reinterpret_cast<ListWork*>(message.lParam);
    else
      delete reinterpret_cast<ScoreWork*>(message.lParam);
  }
}

INT_PTR CALLBACK DevicesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitDialog(dialog, reinterpret_cast<DialogState*>(lParam));
      return TRUE;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wParam));
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header && header->idFrom == IDC_DEVICES_LIST && header->code == LVN_ITEMCHANGED)
        ShowDetails(dialog);
      return FALSE;
    }
    case WM_SIZE:
      Layout(dialog);
      return TRUE;
    case WM_GETMINMAXINFO: {
      DialogState* state = State(dialog);
      if (state && state->minimum.cx > 0) {
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = state->minimum.cx;
        info->ptMinTrackSize.y = state->minimum.cy;
      }
      return TRUE;
    }
    case WM_DEVICECHANGE:
      // The system's own word that a volume came or went; the watcher's
      // report follows after its quiet period and is folded into the same refresh.
      if (wParam == 0x8000 || wParam == 0x8004) SetTimer(dialog, kRefreshTimer, kRefreshDelayMs, NULL);
      return TRUE;
    case kVolumesChanged:
      SetTimer(dialog, kRefreshTimer, kRefreshDelayMs, NULL);
      return TRUE;
    case WM_TIMER:
      if (wParam == kRefreshTimer) {
        KillTimer(dialog, kRefreshTimer);
        Refresh(dialog);
      }
      return TRUE;
    case kListResult:
      OnListResult(dialog, reinterpret_cast<ListWork*>(lParam));
      return TRUE;
    case kScoreResult:
      OnScoreResult(dialog, reinterpret_cast<ScoreWork*>(lParam));
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY: {
      (void)getApp().removeObserver(&g_observer);
      {
        XpSingleLock guard(&WindowLock());
        if (g_dialog == dialog) g_dialog = NULL;
      }
      KillTimer(dialog, kRefreshTimer);
      DrainResults(dialog);
      SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
      PostQuitMessage(0);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

// The window's thread: a modeless dialog with a message loop of its own, so
// the keyboard works in it and the icon's thread never waits for it.
unsigned int WindowThread(void* argument) {
  HMODULE resources = static_cast<HMODULE>(argument);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  DialogState* state = new (std::nothrow) DialogState;
  if (!state) return 0;
  state->resources = resources;
  state->generation = 0;
  state->listing = state->listAgain = state->scoring = false;
  state->minimum.cx = state->minimum.cy = 0;
  HWND dialog = CreateDialogParamW(resources, MAKEINTRESOURCEW(IDD_DEVICES), NULL, &DevicesProc,
                                   reinterpret_cast<LPARAM>(state));
  if (dialog) {
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
      if (IsWindow(dialog) && IsDialogMessageW(dialog, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  delete state;
  return 0;
}

}  // namespace

namespace DevicesWindow {

HWND Window() {
  XpSingleLock guard(&WindowLock());
  return g_dialog;
}

void Open(HMODULE resources) {
  if (!resources || !FindResourceW(resources, MAKEINTRESOURCEW(IDD_DEVICES), RT_DIALOG)) return;
  // The application's shutdown closes the window and joins its workers.
  getApp().setInterfaceJoin(&Close);
  HWND open = NULL;
  {
    XpSingleLock guard(&WindowLock());
    // A window thread that has ended is joined here.
    if (WindowThreads().Empty()) {
      (void)WindowThreads().Start(&WindowThread, resources);
      return;
    }
    open = g_dialog;
  }
  // One window at a time: the open one comes to the front. Outside the lock,
  // since the window's thread takes it too.
  if (open) {
    if (IsIconic(open)) ShowWindowAsync(open, SW_RESTORE);
    SetForegroundWindow(open);
  }
}

bool Close(DWORD waitMs) {
  {
    XpSingleLock guard(&WindowLock());
    if (g_dialog) PostMessageW(g_dialog, WM_CLOSE, 0, 0);
  }
  DWORD start = GetTickCount();
  // A thread that does not end in time stays held; the caller then keeps
  // what it uses alive.
  bool ended = WindowThreads().JoinWithin(waitMs);
  // Workers post to a window that is gone and end; their scoring runs ended
  // with the watcher's cancellation. They get the rest of the time.
  DWORD spent = GetTickCount() - start;
  return Workers().JoinWithin(spent < waitMs ? waitMs - spent : 0) && ended;
}

}  // namespace DevicesWindow
