#include "app/VolumeWatcherApp.h"

#include <new>

XpSharedPtr<SfImporterModuleManager> VolumeWatcherApp::moduleManager() {
  XpSharedPtr<SfImporterModuleManager> existing = existingModuleManager();
  if (existing) return existing;
  // The build reads the registry, loads libraries, lists folders that may be
  // network shares and parses files: it holds only its own lock, never the
  // one that stop() and the user interface take to look at the registry.
  XpSingleLock building(&m_moduleManagerBuildLock);
  existing = existingModuleManager();
  if (existing) return existing;
  InterlockedExchange(&m_moduleManagerBuilding, 1);
  // It shares the cancellation: a stop ends its selections, and one made by
  // a decision that met a stop on its way scores nothing.
  SfImporterModuleManager* manager = new (std::nothrow) SfImporterModuleManager(m_cancellation);
  XpSharedPtr<SfImporterModuleManager> made;
  if (manager) {
    manager->setScoreTimeout(readScoreTimeout());
    made = XpSharedPtr<SfImporterModuleManager>(manager);
    XpSingleLock guard(&m_moduleManagerLock);
    m_moduleManager = made;
  }
  InterlockedExchange(&m_moduleManagerBuilding, 0);
  return made;
}

XpSharedPtr<SfImporterModuleManager> VolumeWatcherApp::readyModuleManager() {
  XpSharedPtr<SfImporterModuleManager> existing = existingModuleManager();
  if (existing || InterlockedCompareExchange(&m_moduleManagerBuilding, 0, 0) != 0) return existing;
  return moduleManager();
}
