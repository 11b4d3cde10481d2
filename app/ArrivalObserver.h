// What the application object tells those who watch it (the Devices window,
// tests): volumes came or went, and a decision was taken. Calls come on the
// deciding threads; an observer only notes them and returns.
#pragma once

struct ArrivalDecision;

class IArrivalObserver {
 public:
  // A volume arrived or left: what is present has changed.
  virtual void OnVolumesChanged() = 0;
  // A decision was taken for an arrival and is about to be carried out.
  virtual void OnArrivalDecided(const ArrivalDecision& decision) = 0;

 protected:
  // Never deleted through the interface.
  ~IArrivalObserver() {}
};
