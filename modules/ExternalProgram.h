// External tool registrations: small property-list files in which programs
// that cooperate with the suite describe themselves. The catalogue finds them
// in the user's tools folder and in folders named in the registry, drops the
// ones the user switched off and sorts the rest by display level. It also
// keeps the user's list of level-1 tools as numbered files in the tools folder.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/XpDateTime.h"
#include "platform/XpResult.h"
#include "platform/XpString.h"

class XpIniDict;

class ExternalProgram {
 public:
  ExternalProgram();

  // Reads one registration file; false when it is missing or not a
  // property-list dictionary (the record may then be partly filled).
  bool read(const XpString& filePath);
  // Writes the registration to filePath; on success fileTime is the file's new time.
  bool write();
  // filePath already holds what write() would write.
  bool isStored() const;

  XpString appName;
  XpString description;
  bool groupApp;
  XpString installSettingName;
  XpString programPath;
  XpString iconPath;
  bool modal;
  XpString option;
  int displayLevel;
  bool multiple;
  int uiOrder;
  std::vector<DWORD> contentTypeMasks;
  std::vector<DWORD> mediaTypeMasks;
  bool xmlReceivable;
  bool everyTimeEnable;
  XpString imagePath;
  XpString settingDescription;
  XpString summary;
  DWORD supportedDeviceMask;
  bool includeNotSelected;
  XpString filePath;
  XpDateTime fileTime;
  int sequence;

 private:
  // The dictionary write() saves; the first failure of building it.
  XpResult buildDict(XpIniDict* dict) const;
};

typedef std::vector<ExternalProgram> ExternalProgramList;

class ExternalProgramCatalog {
 public:
  static const int kLevelCount = 7;
  static const int kLevel1Capacity = 20;

  // Loads every registration (see the class comment).
  ExternalProgramCatalog();
  // Writes the level-1 list back into the tools folder.
  virtual ~ExternalProgramCatalog();

  // The list of one display level; an empty list for levels outside 0..6.
  const ExternalProgramList& programsOfLevel(int level) const;

  // The user's tools folder: AppData\Zelm Corporation\Vantolo\ExtTools.
  static XpString ToolsFolder(bool create);

 private:
  ExternalProgramCatalog(const ExternalProgramCatalog&);
  ExternalProgramCatalog& operator=(const ExternalProgramCatalog&);

  struct IgnoreEntry {
    XpString name;
    DWORD level;
  };

  void load();
  void distribute(ExternalProgram& program, bool fromToolsFolder);
  bool addToLevel1(ExternalProgram& program, bool fromToolsFolder);
  // The lowest file number that no file of the tools folder holds.
  int nextFreeNumber();
  void writeBack();

  ExternalProgramList m_lists[kLevelCount];
  int m_level1Capacity;
  int m_fileCounter;
  int m_sequenceCounter;
  XpString m_toolsFolder;
  // This run listed the tools folder and read every registration in it.
  bool m_toolsFolderRead;
  std::vector<IgnoreEntry> m_ignore;
  // Numbers of the numbered files the tools folder held at loading, read or
  // not, and those given to new records since: no record is written over a
  // file that holds another one.
  std::vector<int> m_usedNumbers;
  // Tools-folder files that only repeat a tool another file of the list holds.
  std::vector<XpString> m_copies;
};
