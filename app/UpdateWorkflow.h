// The window's side of the two-stage firmware update: the update button
// starts an update job on a worker, the "Flash thread", and everything the
// engine reports reaches the view on the main thread, handed over once.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "BoardPorts.h"
#include "SettingsBlock.h"
#include "UpdateTiming.h"
#include "UpdateView.h"

class TThreadRunner;
namespace update {
class TUpdateJob;
}

class TUpdateWorkflow {
 public:
  TUpdateWorkflow(IUpdateView& AView, std::shared_ptr<update::TBoardPorts> APorts);
  ~TUpdateWorkflow();
  TUpdateWorkflow(const TUpdateWorkflow&) = delete;
  TUpdateWorkflow& operator=(const TUpdateWorkflow&) = delete;

  // Main thread. Starts an update that writes ASettings, once both images
  // are found beside the application file (otherwise it shows which one
  // is missing) and the technician agreed to send characters that the
  // board cannot store as typed. Does nothing while an update runs.
  void Start(const update::TSettingsTexts& ASettings);

  // The worker of a running update, or null. Written on the main thread at
  // start, cleared by the worker as its last step.
  TThreadRunner* Running() const { return fTR.load(); }

  // Main thread, when the view goes while an update runs: the update stops
  // at its next pause, and nothing it reports reaches the view any more.
  void Abandon();

  // Timing of the wait for the board's return; tests replace the clock and
  // the sleep so that a board that never comes back costs no real minute.
  // Each update takes a copy when it starts.
  update::TUpdateTiming fTiming;

 private:
  friend class TMainWindowProbe;  // tests
  class TViewEvents;
  bool ImagesFound();
  bool SettingsAccepted(const update::TSettingsTexts& ASettings);

  IUpdateView& FView;
  std::shared_ptr<update::TBoardPorts> FPorts;
  std::atomic<TThreadRunner*> fTR{nullptr};
  std::string file_loader;
  std::string file_fw;
  // The running update, to cancel it and cut it off from the view when the
  // view goes; the worker holds the strong references.
  std::weak_ptr<update::TUpdateJob> FJob;
  std::shared_ptr<TViewEvents> FEvents;
};
