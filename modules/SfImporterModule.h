// The suite's importer modules: each one is a separate program that is asked,
// as a child process, how well it can import from an arriving volume or
// device, and is then started for it. The manager collects the registered
// modules once and chooses among them by score.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/XpCancellation.h"
#include "platform/XpHandle.h"
#include "platform/XpResult.h"
#include "platform/XpString.h"
#include "platform/XpThread.h"

class ExternalProgram;

// Told the exit code of a destination-folder run that the caller did not wait for.
class ISfImporterCompletion {
 public:
  virtual ~ISfImporterCompletion() {}
  virtual void OnImporterRunDone(int exitCode) = 0;
};

// Device kinds of SfImporterModule::supportedDevices and of selectFor.
const DWORD SF_DEVICE_VOLUME = 1;
const DWORD SF_DEVICE_1394 = 2;
// Cameras and phones without a drive letter (MTP or PTP), by interface path.
const DWORD SF_DEVICE_PORTABLE = 4;

class SfImporterModule {
 public:
  // Defaults: empty texts except the menu text and the display name, which
  // start as subkeyName; no settings dialog; volumes only.
  explicit SfImporterModule(const XpString& subkeyName = XpString());
  // Waits for a running background destination-folder run: its thread uses
  // this object, so it cannot be left running on its own.
  virtual ~SfImporterModule();

  // From the registration under rootPath/subkey (HKLM, "/" separators). A
  // module whose registry data is missing keeps its defaults.
  static SfImporterModule* CreateFromRegistry(const XpString& rootPath, const XpString& subkey);
  // From an external tool registration of display level 6.
  static SfImporterModule* CreateFromExternalProgram(const ExternalProgram& program);

  const XpString& name() const { return m_name; }
  const XpString& key() const { return m_key; }
  const XpString& exePath() const { return m_exePath; }
  const XpString& settingsMenuText() const { return m_settingsMenuText; }
  const XpString& visibleName() const { return m_visibleName; }
  const XpString& comment() const { return m_comment; }
  bool hasSettingsDialog() const { return m_hasSettingsDialog; }
  DWORD supportedDevices() const { return m_supportedDevices; }
  HWND parentWindow() const { return m_parentWindow; }
  const XpString& resourceLibrary() const { return m_resourceLibrary; }
  const XpString& fixedArguments() const { return m_fixedArguments; }

  void setExePath(const XpString& path) { m_exePath = path; }
  void setFixedArguments(const XpString& arguments) { m_fixedArguments = arguments; }
  void setSupportedDevices(DWORD mask) { m_supportedDevices = mask; }

  // A file exists at exePath.
  bool isInstalled() const;
  // Returns the previous window; null means no "/parentwindow" part.
  HWND setParentWindow(HWND window);

  // Starts the program with fixedArguments (and a blank) in front of
  // arguments. Waits when wait is set or exitCode is given. 0,
  // XP_E_FILE_BAD_ARGUMENT (command line too long, or a program path that
  // could split the command line), XP_E_FAIL (process not created).
  [[nodiscard]] XpResult run(const XpString& arguments, bool wait, DWORD* exitCode, HANDLE* process);
  // The scoring run's exit code; -1 when the run fails.
  int importScore(const XpString& path);
  // The scoring run with its start result, so that a module that cannot be
  // started at all can be told from one that asks for a rescan. Waits at
  // most kSfDefaultScoreTimeout.
  [[nodiscard]] XpResult runImportScore(const XpString& path, int* score);
  // The same with a bound in milliseconds and an event (may be null) that
  // cuts the wait short. A run that outlives either is ended: XP_E_TIMEOUT or
  // XP_E_CANCELLED. A run that ended with an exit code that is no score (an
  // exception code such as 0xC0000005, or a negative value outside the
  // rescan range) is a failed run: XP_E_FAIL. *score is -1 on every failure.
  [[nodiscard]] XpResult runImportScore(const XpString& path, DWORD waitMs, HANDLE cancel, int* score);
  // An empty source leaves out the "/import" part; an empty extra adds nothing.
  [[nodiscard]] XpResult startImport(const XpString& source, const XpString& extra, bool wait,
                                     HANDLE* process);
  [[nodiscard]] XpResult openSettings(bool wait);
  // Waits and reports the exit code unless a process handle is asked for.
  [[nodiscard]] XpResult openDestinationFolder(HANDLE* process, DWORD* exitCode);
  // Not modal: on a worker thread, returns at once. Modal: pumps this
  // thread's messages with parentWindow disabled until the program ends.
  [[nodiscard]] XpResult runDestinationDialog(ISfImporterCompletion* completion, bool modal);

  // Argument texts of the runs, as run() receives them (without fixedArguments).
  XpString scoreArguments(const XpString& path) const;
  XpString importArguments(const XpString& source, const XpString& extra) const;
  XpString settingsArguments() const;
  XpString destinationArguments() const;
  // " /parentwindow 00120ABC" or empty.
  XpString parentWindowPart() const;

 private:
  SfImporterModule(const SfImporterModule&);
  SfImporterModule& operator=(const SfImporterModule&);

  static unsigned int DestinationWorker(void* argument);
  [[nodiscard]] XpResult runDestinationModal();
  // Joins a background run that has ended; ending: stops waiting for its
  // program (which stays open) and joins.
  void reapWorker(bool ending);
  void formKeyAndName(const XpString& fullPath);
  friend class SfImporterModuleManager;

  XpString m_name;
  XpString m_key;
  XpString m_exePath;
  XpString m_settingsMenuText;
  XpString m_visibleName;
  XpString m_comment;
  bool m_hasSettingsDialog;
  DWORD m_supportedDevices;
  HWND m_parentWindow;
  XpScopedThread m_worker;
  XpUniqueHandle m_workerStop;  // manual-reset: the worker stops waiting for the dialog
  ISfImporterCompletion* m_completion;
  XpString m_resourceLibrary;
  XpString m_fixedArguments;
};

typedef XpSharedPtr<SfImporterModule> SfImporterModulePtr;
typedef std::vector<SfImporterModulePtr> SfImporterModuleList;

class SfImporterModuleManager {
 public:
  // Loads the list: the "Importer" registrations, the level-6 external tool
  // registrations, then the hard-disk accessor when it is not listed yet.
  // With a cancellation of its own.
  SfImporterModuleManager();
  // With one it shares: a cancel of it ends the selections here too.
  explicit SfImporterModuleManager(const XpSharedPtr<XpCancellation>& cancellation);
  virtual ~SfImporterModuleManager();

  const SfImporterModuleList& modules() const { return m_modules; }
  SfImporterModulePtr cameraFolderModule() const { return m_cameraFolderModule; }
  SfImporterModulePtr diskAccessorModule() const { return m_diskAccessorModule; }

  // Ignoring case; empty when none.
  SfImporterModulePtr findByKey(const XpString& key) const;
  bool hasDiskAccessor() const;
  // The module with the highest positive score among those of kindMask;
  // empty when none claims the path. May block for the modules' runs and up
  // to two pauses of 3333 ms when a module asks to be asked again.
  SfImporterModulePtr selectFor(const XpString& path, DWORD kindMask);
  SfImporterModuleList modulesWithSettings() const;
  // XP_E_FILE_NOT_FOUND without a camera-folder importer.
  [[nodiscard]] XpResult openCameraFolderDestination(HWND parent, ISfImporterCompletion* completion,
                                                     bool modal);

  // The pause before a rescan, in milliseconds.
  static const DWORD kRescanPause = 3333;
  static const int kMaxScans = 3;

  // The bound of one scoring run in milliseconds (0 gives the default).
  void setScoreTimeout(DWORD milliseconds);
  DWORD scoreTimeout() const;
  // Ends the selections under way: their scoring runs are terminated, their
  // pauses cut short, and they choose nothing. Selections that start while
  // cancelled choose nothing either, until resumeSelections. Both act on the
  // cancellation, so a shared one's other users are cancelled and resumed too.
  void cancelSelections();
  void resumeSelections();

 private:
  SfImporterModuleManager(const SfImporterModuleManager&);
  SfImporterModuleManager& operator=(const SfImporterModuleManager&);

  SfImporterModuleList m_modules;
  SfImporterModulePtr m_cameraFolderModule;
  SfImporterModulePtr m_diskAccessorModule;
  volatile LONG m_scoreTimeout;
  void load();
  // Never null. A selection begun before a cancel stays cancelled after a
  // resume: the cancel began a new epoch.
  XpSharedPtr<XpCancellation> m_cancellation;
};

// A scoring run's exit code read as a score: a module asks to be asked again
// with -1 to -255 only. Exception codes (0xC0000005 and the like read as
// large negative numbers) and other negative values are no score at all.
bool SfIsRescanScore(int score);
bool SfIsScore(int score);
// The bound of a scoring run when nothing else is configured: 30 seconds.
const DWORD kSfDefaultScoreTimeout = 30000;

// Quotes one argument by the rules Windows programs split command lines with
// (CommandLineToArgvW, the C run time): left as it is when it holds no blank,
// tab or double quote and is not empty, so a drive root E:\ stays as written.
XpString SfQuoteArgument(const XpString& text);
// The same, but always in quotes (for arguments the protocol writes quoted).
XpString SfQuoteArgumentAlways(const XpString& text);
