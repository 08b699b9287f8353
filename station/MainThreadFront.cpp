#include "MainThreadFront.h"

#include <QMetaObject>
#include <QObject>
#include <utility>

TMainThreadFront::TMainThreadFront(QObject& AContext, IStationFront& ATarget)
    : FContext(AContext), FTarget(ATarget) {}

// ACall holds copies of the values: the station's thread goes on at once.
template <typename TCall>
void TMainThreadFront::Queue(TCall&& ACall) {
  QMetaObject::invokeMethod(&FContext, std::forward<TCall>(ACall), Qt::QueuedConnection);
}

void TMainThreadFront::Header(const TStationHeader& AHeader) {
  Queue([&target = FTarget, AHeader] { target.Header(AHeader); });
}

void TMainThreadFront::Bus(const std::vector<std::string>& AUnlisted, bool APortsUnknown) {
  Queue([&target = FTarget, AUnlisted, APortsUnknown] { target.Bus(AUnlisted, APortsUnknown); });
}

void TMainThreadFront::Refused(const std::string& AText) {
  Queue([&target = FTarget, AText] { target.Refused(AText); });
}

void TMainThreadFront::Arrived(const std::string& APort) {
  Queue([&target = FTarget, APort] { target.Arrived(APort); });
}

void TMainThreadFront::WaitsForSerial(const std::string& APort) {
  Queue([&target = FTarget, APort] { target.WaitsForSerial(APort); });
}

void TMainThreadFront::Started(const std::string& APort, const std::string& ASerial) {
  Queue([&target = FTarget, APort, ASerial] { target.Started(APort, ASerial); });
}

void TMainThreadFront::Progress(const std::string& APort, const std::string& AStep, int APercent) {
  Queue([&target = FTarget, APort, AStep, APercent] { target.Progress(APort, AStep, APercent); });
}

void TMainThreadFront::LogLine(const std::string& APort, const std::string& AText, TColor AColor) {
  Queue([&target = FTarget, APort, AText, AColor] { target.LogLine(APort, AText, AColor); });
}

void TMainThreadFront::Ended(const std::string& APort, const TTileResult& AResult, const TShiftTotals& ATotals) {
  Queue([&target = FTarget, APort, AResult, ATotals] { target.Ended(APort, AResult, ATotals); });
}

void TMainThreadFront::Said(const std::string& AText) {
  Queue([&target = FTarget, AText] { target.Said(AText); });
}
