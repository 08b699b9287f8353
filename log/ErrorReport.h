// General error reporting: every error that nothing else handles ends here.
// The user sees "An error occurred in the application." with the error's
// message; a plain-text report is appended to "bugreport.txt" beside the
// executable (kept under 100000 bytes, oldest reports dropped). The
// interrupted step then goes on with the next one.
#pragma once

#include <exception>
#include <functional>
#include <string>

// Shows and records one error. Safe to call from the main thread at any
// time, before, during and after the event loop.
void ReportError(const std::string& AMessage);

// Runs AStep; an error escaping it is reported and swallowed.
template <class F>
void GuardStep(F&& AStep) {
  try {
    AStep();
  } catch (const std::exception& e) {
    ReportError(e.what());
  } catch (...) {
    ReportError("Unknown error");
  }
}

// Replaces the modal dialog (tests, headless runs). The argument is the
// full text the dialog would show.
using TErrorPresenter = std::function<void(const std::string& AText)>;
void SetErrorPresenter(TErrorPresenter APresenter);

// Folder of bugreport.txt; defaults to the executable's folder.
void SetBugReportFolder(const std::string& AFolder);
