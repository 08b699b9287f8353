// kestrova-flash's side of the engine's events, one board at a time or a
// gang of them: the update's lines go to the log, its steps and amounts to
// a view (the progress bar of one board, or the gang's lines by port), and
// everything to the --json stream when there is one.
#pragma once

#include <cstdint>
#include <string>

#include "LogFile.h"
#include "JsonStream.h"
#include "UpdateEngine.h"

// What a board's update shows on the console.
class IBoardView {
 public:
  virtual ~IBoardView() = default;
  // A step begins: "1. Upload bootloader", ...
  virtual void Step(const std::string& APort, const std::string& AText) = 0;
  // ADone of ATotal bytes of a stage ("loader", "firmware", "verify").
  virtual void Amount(const std::string& APort, const std::string& AStage, uint64_t ADone, uint64_t ATotal) = 0;
  // The board is awaited, ASeconds more at most.
  virtual void Waiting(const std::string& APort, uint64_t ASeconds) = 0;
};

class TBoardEvents : public update::IUpdateEvents {
 public:
  // ALogPrefix begins each of the board's lines in the log ("[1-1.3] ").
  TBoardEvents(std::string APort, IBoardView& AView, TLogFile* ALog, std::string ALogPrefix, TJsonStream* AJson)
      : FPort(std::move(APort)), FView(AView), FLog(ALog), FLogPrefix(std::move(ALogPrefix)), FJson(AJson) {}

  void Log(int32_t, TMessageType, const std::string& AMessage, TColor AColor) override {
    if (FLog) FLog->Write(FLogPrefix + AMessage);
    if (FJson) FJson->Log(FPort, AColor, AMessage);
  }
  void Progress(const update::TUpdateProgress& AProgress) override;
  void Identified(const std::string& ABoardId) override {
    if (FJson) FJson->Board(FPort, ABoardId);
  }
  void Ended(const update::TUpdateOutcome&) override {}

 private:
  const std::string FPort;
  IBoardView& FView;
  TLogFile* FLog;
  const std::string FLogPrefix;
  TJsonStream* FJson;
  int FStep = 0;  // the step shown last
};
