#include "modules/SfImporterModule.h"

#include <cwchar>

#include "modules/ExternalProgram.h"
#include "modules/SuiteKeys.h"
#include "platform/XpBoundedRun.h"
#include "platform/XpFileSystem.h"
#include "platform/XpHandle.h"
#include "platform/XpRegistry.h"
#include "platform/XpVersionedKey.h"

namespace {

const wchar_t kAccessorSubkey[] = L"HDD1";
const wchar_t kAccessorKey[] = L"Accessor/HDD1";
const wchar_t kCameraFolderSubkey[] = L"DCF";

const UINT kSettingsMenuFallback = 300;
const UINT kVisibleNameFallback = 301;
const UINT kCommentFallback = 302;
const int kStringBuffer = 1024;

// The module's resource library, mapped as data only: nothing of a module's
// code runs inside the watcher.
HMODULE LoadResourceLibrary(const XpString& path) {
  return path.IsEmpty() ? NULL : LoadLibraryExW(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
}

XpString LoadText(HMODULE library, UINT id) {
  wchar_t buffer[kStringBuffer];
  buffer[0] = 0;
  int n = LoadStringW(library, id, buffer, kStringBuffer);
  if (n <= 0) return XpString();
  buffer[n < kStringBuffer ? n : kStringBuffer - 1] = 0;
  return XpString(buffer);
}

// The string named by the id value, else the fallback string; when both are
// missing the text keeps what it had, so a menu item never loses its name.
void LoadModuleText(HMODULE library, const XpRegistry* version, const wchar_t* valueName, UINT fallback,
                    XpString& text) {
  DWORD id = version->ReadDword(valueName, 0);
  XpString loaded;
  if (id != 0) loaded = LoadText(library, id);
  if (loaded.IsEmpty()) loaded = LoadText(library, fallback);
  if (!loaded.IsEmpty()) text = loaded;
}

bool NeedsQuotes(const XpString& text) {
  if (text.IsEmpty()) return true;
  for (int i = 0; i < text.GetLength(); ++i) {
    wchar_t c = *text.At(i);
    if (c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'"') return true;
  }
  return false;
}

}  // namespace

XpString SfQuoteArgumentAlways(const XpString& text) {
  // Backslashes are literal unless they precede a quote: then each one must
  // be doubled and the quote escaped; those before the closing quote are
  // doubled too, so E:\ becomes "E:\\".
  XpString out(L"\"");
  int backslashes = 0;
  for (int i = 0; i < text.GetLength(); ++i) {
    wchar_t c = *text.At(i);
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      for (int k = 0; k < backslashes * 2 + 1; ++k) out += L"\\";
      out += L"\"";
    } else {
      for (int k = 0; k < backslashes; ++k) out += L"\\";
      wchar_t one[2] = {c, 0};
      out += one;
    }
    backslashes = 0;
  }
  for (int k = 0; k < backslashes * 2; ++k) out += L"\\";
  out += L"\"";
  return out;
}

XpString SfQuoteArgument(const XpString& text) {
  return NeedsQuotes(text) ? SfQuoteArgumentAlways(text) : text;
}

SfImporterModule::SfImporterModule(const XpString& subkeyName)
    : m_settingsMenuText(subkeyName),
      m_visibleName(subkeyName),
      m_hasSettingsDialog(false),
      m_supportedDevices(SF_DEVICE_VOLUME),
      m_parentWindow(NULL),
      m_completion(nullptr) {}

SfImporterModule::~SfImporterModule() { reapWorker(true); }

void SfImporterModule::reapWorker(bool ending) {
  if (!m_worker) return;
  if (ending) {
    // The dialog is the user's and may stay open for hours: the worker stops
    // waiting for it, so the module (and the watcher's exit) goes at once.
    if (m_workerStop) SetEvent(m_workerStop.get());
  } else if (WaitForSingleObject(m_worker->GetHandle(), 0) == WAIT_TIMEOUT) {
    return;
  }
  // Nobody reads a background run's exit code: its outcome goes to the completion interface.
  (void)m_worker.Join();
}

void SfImporterModule::formKeyAndName(const XpString& fullPath) {
  XpString path = fullPath;
  path.Replace(L"\\", L"/");
  while (path.Replace(L"//", L"/") > 0) {
  }
  if (path.GetLength() > 0 && *path.At(path.GetLength() - 1) == L'/') path = path.Left(path.GetLength() - 1);
  int last = path.ReverseFind(L'/');
  m_name = last < 0 ? path : path.Right(path.GetLength() - last - 1);
  int previous = -1;
  if (last > 0) {
    for (int i = last - 1; i >= 0; --i) {
      if (*path.At(i) == L'/') {
        previous = i;
        break;
      }
    }
  }
  m_key = previous < 0 ? path : path.Right(path.GetLength() - previous - 1);
}

SfImporterModule* SfImporterModule::CreateFromRegistry(const XpString& rootPath, const XpString& subkey) {
  SfImporterModule* module = new SfImporterModule(subkey);
  XpScopedRegistry version(
      OpenVersionedKey(rootPath + L"/" + subkey, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  if (version) {
    module->m_name = subkey;
    XpString location = version->ReadString(L"InstalledLocation", XpString());
    XpString exeName = version->ReadString(L"ExeName", XpString());
    module->m_exePath = JoinPath(location, exeName);
    module->m_hasSettingsDialog = version->ReadDword(L"HasSettingsDialog", 1) != 0;
    module->m_supportedDevices = version->ReadDword(L"SupportedDevice", 1);
    XpString resourceName = version->ReadString(L"ResourceName", XpString());
    if (resourceName.IsEmpty()) {
      resourceName = exeName;
      int dot = resourceName.ReverseFind(L'.');
      if (dot >= 0) resourceName = resourceName.Left(dot);
      resourceName += L"Loc.dll";
    }
    module->m_resourceLibrary = JoinPath(location, resourceName);

    XpUniqueModule library(LoadResourceLibrary(module->m_resourceLibrary));
    if (library.get() != NULL) {
      LoadModuleText(library.get(), version.get(), L"SettingsMenuStrId", kSettingsMenuFallback,
                     module->m_settingsMenuText);
      LoadModuleText(library.get(), version.get(), L"VisibleNameStrId", kVisibleNameFallback,
                     module->m_visibleName);
      LoadModuleText(library.get(), version.get(), L"CommentStrId", kCommentFallback, module->m_comment);
    }
  }
  module->formKeyAndName(rootPath + L"/" + subkey);
  return module;
}

SfImporterModule* SfImporterModule::CreateFromExternalProgram(const ExternalProgram& program) {
  SfImporterModule* module = new SfImporterModule();
  module->m_exePath = program.programPath;
  module->m_settingsMenuText = program.settingDescription;
  module->m_hasSettingsDialog = !program.settingDescription.IsEmpty();
  module->m_supportedDevices = program.supportedDeviceMask;
  module->m_visibleName = program.description;
  module->m_comment = program.summary;
  module->m_fixedArguments = program.option;
  module->formKeyAndName(program.installSettingName);
  return module;
}

bool SfImporterModule::isInstalled() const { return !m_exePath.IsEmpty() && FileExists(m_exePath); }

HWND SfImporterModule::setParentWindow(HWND window) {
  HWND previous = m_parentWindow;
  m_parentWindow = window;
  return previous;
}

XpString SfImporterModule::parentWindowPart() const {
  if (m_parentWindow == NULL) return XpString();
  // The protocol carries the handle's 32-bit value in eight digits, also from
  // a 64-bit build (window handles are 32-bit values on every Windows).
  XpString part;
  part.Format(L" /parentwindow %08lX",
              static_cast<unsigned long>(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(m_parentWindow))));
  return part;
}

XpString SfImporterModule::scoreArguments(const XpString& path) const {
  return XpString(L"/importscore ") + SfQuoteArgument(path);
}

XpString SfImporterModule::importArguments(const XpString& source, const XpString& extra) const {
  XpString arguments;
  if (!source.IsEmpty()) arguments += XpString(L" /import ") + SfQuoteArgumentAlways(source);
  arguments += parentWindowPart();
  if (!extra.IsEmpty()) arguments += XpString(L" ") + SfQuoteArgument(extra);
  return arguments;
}

XpString SfImporterModule::settingsArguments() const { return XpString(L"/config") + parentWindowPart(); }

XpString SfImporterModule::destinationArguments() const { return XpString(L"/destdir") + parentWindowPart(); }

XpResult SfImporterModule::run(const XpString& arguments, bool wait, DWORD* exitCode, HANDLE* process) {
  // The program path is put in quotes on the command line; a quote inside it
  // would end them early and let the rest of the path pose as arguments.
  if (m_exePath.Find(L'"') >= 0) return XP_E_FILE_BAD_ARGUMENT;
  XpString commandLine;
  if (!m_fixedArguments.IsEmpty()) commandLine = m_fixedArguments + L" ";
  commandLine += arguments;
  DWORD code = 0;
  DWORD* wanted = exitCode;
  if (wanted == nullptr && wait) wanted = &code;
  return RunProgram(m_exePath, commandLine, wanted, process);
}

bool SfIsRescanScore(int score) { return score <= -1 && score >= -255; }

bool SfIsScore(int score) { return score >= 0 || SfIsRescanScore(score); }

XpResult SfImporterModule::runImportScore(const XpString& path, int* score) {
  return runImportScore(path, kSfDefaultScoreTimeout, NULL, score);
}

XpResult SfImporterModule::runImportScore(const XpString& path, DWORD waitMs, HANDLE cancel, int* score) {
  if (score != nullptr) *score = -1;
  // As run() does: a quote in the path would end the program's quotes early.
  if (m_exePath.Find(L'"') >= 0) return XP_E_FILE_BAD_ARGUMENT;
  XpString commandLine;
  if (!m_fixedArguments.IsEmpty()) commandLine = m_fixedArguments + L" ";
  commandLine += scoreArguments(path);
  DWORD code = 0;
  XpResult result = RunProgramWithin(m_exePath, commandLine, waitMs, cancel, &code);
  if (XpFailed(result)) return result;
  // A crashed module did not answer: it claims nothing and asks for nothing.
  if (!SfIsScore(static_cast<int>(code))) return XP_E_FAIL;
  if (score != nullptr) *score = static_cast<int>(code);
  return XP_OK;
}

int SfImporterModule::importScore(const XpString& path) {
  int score = -1;
  if (XpFailed(runImportScore(path, &score))) return -1;
  return score;
}

XpResult SfImporterModule::startImport(const XpString& source, const XpString& extra, bool wait,
                                       HANDLE* process) {
  return run(importArguments(source, extra), wait, nullptr, process);
}

XpResult SfImporterModule::openSettings(bool wait) {
  return run(settingsArguments(), wait, nullptr, nullptr);
}

XpResult SfImporterModule::openDestinationFolder(HANDLE* process, DWORD* exitCode) {
  if (process != nullptr) return run(destinationArguments(), false, nullptr, process);
  DWORD code = 0;
  XpResult result = run(destinationArguments(), true, &code, nullptr);
  if (XpSucceeded(result) && exitCode != nullptr) *exitCode = code;
  return result;
}

unsigned int SfImporterModule::DestinationWorker(void* argument) {
  SfImporterModule* module = static_cast<SfImporterModule*>(argument);
  XpUniqueHandle process;
  XpResult result = module->openDestinationFolder(process.put(), nullptr);
  if (XpFailed(result)) return result;
  // The stop comes first: once the module goes, a run still open is not
  // reported, even if it ended in the same moment.
  HANDLE waits[2] = {module->m_workerStop.get(), process.get()};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return XP_E_CANCELLED;
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) return XP_E_FAIL;
  if (module->m_completion != nullptr) module->m_completion->OnImporterRunDone(static_cast<int>(code));
  return code;
}

XpResult SfImporterModule::runDestinationDialog(ISfImporterCompletion* completion, bool modal) {
  if (modal) {
    m_completion = completion;
    return runDestinationModal();
  }
  // One background run at a time: the worker field holds one thread, and a
  // second dialog of the same module would only stand beside the first.
  reapWorker(false);
  if (m_worker) return XP_OK;
  // Made with the first background run only: most modules never have one.
  if (!m_workerStop) m_workerStop.reset(CreateEventW(NULL, TRUE, FALSE, NULL));
  if (!m_workerStop) return XP_E_FAIL;
  m_completion = completion;
  m_worker = XpScopedThread(XpThread::Create(&SfImporterModule::DestinationWorker, this));
  return m_worker ? XP_OK : XP_E_FAIL;
}

XpResult SfImporterModule::runDestinationModal() {
  XpUniqueHandle process;
  XpResult result = openDestinationFolder(process.put(), nullptr);
  if (XpFailed(result)) return result;
  HANDLE waitHandle = process.get();
  HWND focus = GetFocus();
  if (m_parentWindow != NULL) EnableWindow(m_parentWindow, FALSE);
  bool quit = false;
  WPARAM quitCode = 0;
  while (!quit) {
    DWORD wait = MsgWaitForMultipleObjects(1, &waitHandle, FALSE, INFINITE, QS_ALLINPUT);
    if (wait != WAIT_OBJECT_0 + 1) break;  // the process ended (or the wait failed)
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        quitCode = msg.wParam;
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      if (m_parentWindow != NULL) EnableWindow(m_parentWindow, FALSE);
    }
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) code = static_cast<DWORD>(-1);
  if (m_completion != nullptr) m_completion->OnImporterRunDone(static_cast<int>(code));
  process.reset();
  if (m_parentWindow != NULL) EnableWindow(m_parentWindow, TRUE);
  if (focus != NULL) SetFocus(focus);
  // The quit request belongs to the thread's own loop: put it back so that
  // loop ends too.
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return XP_OK;
}

SfImporterModuleManager::SfImporterModuleManager()
    : m_scoreTimeout(static_cast<LONG>(kSfDefaultScoreTimeout)), m_cancellation(new XpCancellation) {
  load();
}

SfImporterModuleManager::SfImporterModuleManager(const XpSharedPtr<XpCancellation>& cancellation)
    : m_scoreTimeout(static_cast<LONG>(kSfDefaultScoreTimeout)), m_cancellation(cancellation) {
  if (!m_cancellation) m_cancellation = XpSharedPtr<XpCancellation>(new XpCancellation);
  load();
}

void SfImporterModuleManager::load() {
  bool importersRead = false;
  {
    XpScopedRegistry importers(
        XpRegistry::Open(kImporterPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
    if (importers) {
      importersRead = true;
      XpRegistry::StringList subkeys = importers->EnumSubKeys();
      for (const XpString& subkey : subkeys) {
        SfImporterModulePtr module(SfImporterModule::CreateFromRegistry(kImporterPath, subkey));
        m_modules.push_back(module);
        if (subkey.CompareNoCase(kCameraFolderSubkey) == 0) m_cameraFolderModule = module;
      }
    }
  }
  {
    ExternalProgramCatalog catalog;
    const ExternalProgramList& level6 = catalog.programsOfLevel(6);
    for (const ExternalProgram& program : level6) {
      m_modules.push_back(SfImporterModulePtr(SfImporterModule::CreateFromExternalProgram(program)));
    }
  }
  if (importersRead && findByKey(kAccessorKey).IsNull()) {
    SfImporterModulePtr accessor(SfImporterModule::CreateFromRegistry(kAccessorPath, kAccessorSubkey));
    if (accessor->isInstalled()) {
      m_modules.push_back(accessor);
      m_diskAccessorModule = accessor;
    }
  }
}

SfImporterModuleManager::~SfImporterModuleManager() {}

void SfImporterModuleManager::setScoreTimeout(DWORD milliseconds) {
  if (milliseconds == 0) milliseconds = kSfDefaultScoreTimeout;
  // INFINITE would take the bound away altogether.
  if (milliseconds == INFINITE) milliseconds = INFINITE - 1;
  InterlockedExchange(&m_scoreTimeout, static_cast<LONG>(milliseconds));
}

DWORD SfImporterModuleManager::scoreTimeout() const {
  return static_cast<DWORD>(InterlockedCompareExchange(const_cast<volatile LONG*>(&m_scoreTimeout), 0, 0));
}

void SfImporterModuleManager::cancelSelections() { m_cancellation->cancel(); }

void SfImporterModuleManager::resumeSelections() { m_cancellation->resume(); }

SfImporterModulePtr SfImporterModuleManager::findByKey(const XpString& key) const {
  for (const SfImporterModulePtr& module : m_modules) {
    if (module->key().CompareNoCase(key.c_str()) == 0) return module;
  }
  return SfImporterModulePtr();
}

bool SfImporterModuleManager::hasDiskAccessor() const { return !findByKey(kAccessorKey).IsNull(); }

SfImporterModulePtr SfImporterModuleManager::selectFor(const XpString& path, DWORD kindMask) {
  XpCancellation& cancellation = *m_cancellation;
  const LONG epoch = cancellation.epoch();
  const DWORD bound = scoreTimeout();
  // A cancel from now on ends this selection, even after a resume.
  auto cancelled = [&]() { return !cancellation.mayContinue(epoch); };
  for (int scan = 0; scan < kMaxScans; ++scan) {
    SfImporterModulePtr choice;
    int best = 0;
    bool rescan = false;
    for (const SfImporterModulePtr& module : m_modules) {
      if (cancelled()) return SfImporterModulePtr();
      if ((module->supportedDevices() & kindMask) == 0) continue;
      int score = 0;
      // A program that cannot be started, that crashed, or that did not
      // answer within the bound claims nothing; only a module that ran and
      // answered a score of the rescan range asks to be asked again.
      if (XpFailed(module->runImportScore(path, bound, cancellation.event(), &score))) continue;
      if (SfIsRescanScore(score)) {
        // In the last scan there is no later one to wait for: the module
        // claims nothing and keeps the volume from no other module.
        if (scan + 1 == kMaxScans) continue;
        rescan = true;
        break;
      }
      if (score > best) {
        best = score;
        choice = module;
      }
    }
    if (cancelled()) return SfImporterModulePtr();
    if (!rescan) return choice;
    if (scan + 1 < kMaxScans) {
      if (cancellation.event() != NULL)
        WaitForSingleObject(cancellation.event(), kRescanPause);
      else
        XpThread::Sleep(kRescanPause);
    }
  }
  return SfImporterModulePtr();
}

SfImporterModuleList SfImporterModuleManager::modulesWithSettings() const {
  SfImporterModuleList list;
  for (const SfImporterModulePtr& module : m_modules) {
    if (module->hasSettingsDialog()) list.push_back(module);
  }
  return list;
}

XpResult SfImporterModuleManager::openCameraFolderDestination(HWND parent, ISfImporterCompletion* completion,
                                                              bool modal) {
  if (m_cameraFolderModule.IsNull()) return XP_E_FILE_NOT_FOUND;
  if (parent != NULL) m_cameraFolderModule->setParentWindow(parent);
  return m_cameraFolderModule->runDestinationDialog(completion, modal);
}
