// Helpers of the desktop program's tests (see app_test_support.h).
#include "app_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>

#include "app/main_frame.h"
#include "calc/run/driver.h"
#include "calc/run/run_quantities.h"
#include "calc/synth/synth_map.h"

namespace zuba::test {

ModalAnswerer::ModalAnswerer() {
  connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Check);
  timer_.start(5);
}

void ModalAnswerer::Then(std::function<void(QWidget*)> answer) {
  answers_.push_back(std::move(answer));
}

void ModalAnswerer::Check() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == last_.data()) return;
  last_ = modal;
  if (modal == nullptr || answers_.empty()) return;
  auto answer = std::move(answers_.front());
  answers_.pop_front();
  ++answered_;
  // The same dialog object may open again at once, without a moment between its openings.
  if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    connect(
        dialog, &QDialog::finished, this, [this] { last_ = nullptr; }, Qt::SingleShotConnection);
  }
  answer(modal);
}

ResultTables MakeResults(int n, double f0Offset) {
  ResultTables r;
  std::vector<double> ek, rmn, bmn, rev, f0, dreo;
  double energy = 0.6 * 1.0e6 * kElementaryCharge;
  for (int i = 0; i < n; ++i) {
    ek.push_back(energy);
    energy += 0.6 * 1.0e6 * kElementaryCharge;
    rmn.push_back(0.1 + 0.01 * i);
    bmn.push_back(1.72 + 0.001 * i);
    rev.push_back(0.1 + 0.0101 * i);
    f0.push_back(26.26e6 + 1000.0 * ((i % 5) - 2) + f0Offset);
    dreo.push_back(1e-5 * i);
  }
  r.Ek.assign(ek);
  r.Rmn.assign(rmn);
  r.Bmn.assign(bmn);
  r.Rev.assign(rev);
  r.F0.assign(f0);
  r.dReo.assign(dreo);
  r.OrbitR.assign(rmn);
  r.OrbitVr.assign(std::vector<double>(n, 0.0));
  r.OrbitTheta.assign(std::vector<double>(n, 0.0));
  r.OrbitOmega.assign(std::vector<double>(n, 1.0));
  r.OrbitTau.assign(std::vector<double>(n, 0.0));
  r.OrbitPoints.assign(std::vector<int32_t>(n, 1));
  ApplyPreset(kModeTvk310, r.run);
  r.run.Path = "/maps/tvk310-p.sdf";
  return r;
}

bool WaitFor(const std::function<bool()>& predicate, int timeoutMs) {
  return QTest::qWaitFor(predicate, timeoutMs);
}

bool WriteSmallMap(const std::string& path) {
  SynthMapOptions map;
  map.rMax = 0.4;
  map.dR = 0.05;
  map.dTheta = 10;
  map.flutterCorrection = false;
  const Outcome written = WriteSynthMap(map, path);
  EXPECT_TRUE(written) << written.message().text;
  return written.ok();
}

std::unique_ptr<CMainFrame> ShownMainFrame(int width, int height) {
  auto frame = std::make_unique<CMainFrame>();
  frame->askSaveChanges = [](const QString&) { return QMessageBox::No; };
  frame->resize(width, height);
  frame->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  return frame;
}

}  // namespace zuba::test
