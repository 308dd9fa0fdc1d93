// The results view: a run's results reaching the document and the view when they arrive (never in
// a paint), New and Open, the graph's notes once per record and never from inside a paint, the
// double-click stop request, the report command, and the printed page.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QSignalSpy>
#include <QTest>
#include <QTextItem>

#include "app/main_frame.h"
#include "app_test_support.h"
#include "calc/run/driver.h"
#include "calc/run/prepared_run.h"
#include "results/document.h"

namespace zuba {
namespace {

using test::MakeResults;

struct ViewFixture : ::testing::Test {
  ViewFixture() {
    frame = std::make_unique<CMainFrame>();
    frame->askSaveChanges = [](const QString&) { return QMessageBox::No; };
    frame->resize(800, 600);
  }
  ~ViewFixture() override { frame.reset(); }
  CZUBAView& view() { return frame->View(); }
  CZUBADoc& doc() { return frame->Document(); }
  // One paint of the view, as the window system asks for it.
  void Paint() {
    QImage image(view().size(), QImage::Format_RGB32);
    view().render(&image);
  }

  MessageCapture messages;
  QTemporaryDir dir;
  std::unique_ptr<CMainFrame> frame;
};

using ResultsView = ViewFixture;

TEST_F(ResultsView, RunResultsReachDocumentViewAndCommandsWhenTheyArriveNotInAPaint) {
  const ResultTables run = MakeResults(9);
  frame->TakeRunResults(run, std::make_shared<const PreparedRun>());  // a run's finished call
  EXPECT_EQ(doc().DocumentResults(), run);
  EXPECT_TRUE(doc().ResultsAvailable());
  EXPECT_EQ(view().ViewResults(), run);
  EXPECT_TRUE(view().ResultsAvailable());
  EXPECT_TRUE(doc().IsModified());
  EXPECT_TRUE(frame->reportSaveAsAct->isEnabled());

  // A paint draws what the view holds and changes nothing.
  doc().SetModified(false);
  Paint();
  EXPECT_FALSE(doc().IsModified());
  EXPECT_EQ(view().ViewResults(), run);
}

TEST_F(ResultsView, NewAndOpenReplaceTheRecordShown) {
  frame->TakeRunResults(MakeResults(4), std::make_shared<const PreparedRun>());
  frame->OnFileNew();
  EXPECT_EQ(doc().DocumentResults().Ek.size(), 0);
  EXPECT_EQ(view().ViewResults().Ek.size(), 0);
  EXPECT_FALSE(doc().ResultsAvailable());
  EXPECT_FALSE(view().ResultsAvailable());
  EXPECT_FALSE(frame->reportSaveAsAct->isEnabled());
  Paint();
  EXPECT_FALSE(doc().IsModified());

  const ResultTables loaded = MakeResults(6, 500.0);
  const QString path = dir.filePath("loaded.zub");
  ASSERT_TRUE(SaveDocumentFile(path.toStdString(), loaded, 1).ok());
  ASSERT_TRUE(frame->OpenDocumentFile(path));
  EXPECT_EQ(view().ViewResults(), loaded);
  EXPECT_EQ(doc().DocumentResults(), loaded);
  EXPECT_TRUE(view().ResultsAvailable());
  EXPECT_FALSE(doc().IsModified());
}

// A run whose every energy failed (no F0 at all) is said so in the view, without a message.
TEST_F(ResultsView, RunWhoseEveryEnergyFailedSaysSoInTheView) {
  ResultTables failed = MakeResults(5);
  failed.F0.assign(std::vector<double>(5, 2147483647.0));
  doc().DocumentResults() = failed;
  doc().SetResultsAvailable(true);
  doc().UpdateAllViews();
  QImage image(QSize(400, 300), QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    EXPECT_TRUE(view().OnDraw(painter, image.size()));
  }
  QTest::qWait(20);
  EXPECT_TRUE(messages.messages().empty());
  int ink = 0;  // the line of text, in the middle of the view
  for (int y = 100; y < 200; ++y)
    for (int x = 0; x < 400; ++x) ink += image.pixel(x, y) != qRgb(255, 255, 255);
  EXPECT_GT(ink, 100);
}

TEST_F(ResultsView, GraphMessagesAreShownOncePerRecordAndAfterThePaint) {
  ResultTables bad = MakeResults(5);
  bad.Rmn.assign(std::vector<double>(5, 2147483647.0));  // no real value in the Rmn series
  doc().DocumentResults() = bad;
  doc().SetResultsAvailable(true);
  doc().UpdateAllViews();

  Paint();
  EXPECT_TRUE(messages.messages().empty());  // nothing from inside the paint
  Paint();
  QTest::qWait(20);
  const Message expected{"No real values in X array!", "Message", Icon::Information, Owner::View};
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].text, expected.text);
  EXPECT_EQ(messages.messages()[0].caption, expected.caption);
  EXPECT_EQ(messages.messages()[0].icon, expected.icon);

  // More paints of the same record: no more messages.
  Paint();
  Paint();
  QTest::qWait(20);
  EXPECT_EQ(messages.messages().size(), 1u);

  // A new record brings its message again.
  doc().UpdateAllViews();
  Paint();
  QTest::qWait(20);
  EXPECT_EQ(messages.messages().size(), 2u);
}

TEST_F(ResultsView, DamagedRecordEndsTheDrawingWithOneMessage) {
  ResultTables bad = MakeResults(5);
  bad.F0.assign({26.0e6, 26.1e6});  // shorter than Rmn: only a damaged file holds this
  doc().DocumentResults() = bad;
  doc().SetResultsAvailable(true);
  doc().UpdateAllViews();
  Paint();
  Paint();
  QTest::qWait(20);
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].caption, "Error");
}

TEST_F(ResultsView, DoubleClickRequestsAStop) {
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  QSignalSpy stops(&view(), &CZUBAView::stopRequested);
  QTest::mouseDClick(&view(), Qt::LeftButton, {}, QPoint(50, 50));
  EXPECT_EQ(stops.count(), 1);
  QTest::mouseDClick(&view(), Qt::RightButton, {}, QPoint(50, 50));
  EXPECT_EQ(stops.count(), 1);
}

TEST_F(ResultsView, GraphFollowsTheClientSize) {
  doc().DocumentResults() = MakeResults(10);
  doc().SetResultsAvailable(true);
  doc().UpdateAllViews();
  auto blueColumns = [&](QSize size) {
    view().resize(size);
    QImage image(size, QImage::Format_RGB32);
    view().render(&image);
    int left = size.width(), right = -1;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) == qRgb(0, 0, 255)) {
          left = std::min(left, x);
          right = std::max(right, x);
        }
    return std::pair(left, right);
  };
  const auto small = blueColumns(QSize(500, 400));
  const auto large = blueColumns(QSize(1000, 800));
  ASSERT_GE(small.second, 0);
  EXPECT_GT(large.second - large.first, small.second - small.first);
  EXPECT_LT(small.second, 500);
}

TEST_F(ResultsView, ReportSaveAsWritesTheReportOrSaysWhyNot) {
  doc().DocumentResults() = MakeResults(3);
  doc().SetResultsAvailable(true);
  doc().UpdateAllViews();

  const QString path = dir.filePath("report.txt");
  frame->chooseReportPath = [&] { return path; };
  frame->UpdateCommandUi();
  ASSERT_TRUE(frame->reportSaveAsAct->isEnabled());
  frame->reportSaveAsAct->trigger();
  QFile report(path);
  ASSERT_TRUE(report.open(QIODevice::ReadOnly));
  const QByteArray bytes = report.readAll();
  EXPECT_TRUE(bytes.startsWith("report.txt\r\n\vPath: /maps/tvk310-p.sdf\r\n"))
      << bytes.left(60).toStdString();
  // One row per energy of the view's record (0.6, 1.2 and 1.8 MeV).
  EXPECT_TRUE(bytes.contains("\v+.600000\t")) << bytes.toStdString();
  EXPECT_TRUE(bytes.contains("\r\n+1.200000\t"));
  EXPECT_TRUE(bytes.contains("\r\n+1.800000\t"));
  EXPECT_FALSE(bytes.contains("+2.400000"));
  EXPECT_TRUE(messages.messages().empty());

  frame->chooseReportPath = [] { return QString(); };
  frame->reportSaveAsAct->trigger();
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0],
            (Message{"Unable to open file name for saving!", "Error", Icon::Error, Owner::View}));

  // Tables of unequal length: no dialog, no message.
  messages.clear();
  ResultTables unequal = MakeResults(3);
  unequal.dReo.assign({0.0});
  doc().DocumentResults() = unequal;
  doc().UpdateAllViews();
  bool asked = false;
  frame->chooseReportPath = [&] {
    asked = true;
    return path;
  };
  frame->reportSaveAsAct->trigger();
  EXPECT_FALSE(asked);
  EXPECT_TRUE(messages.messages().empty());
}

// Records the texts drawn, with their position on the device.
class TextRecorder : public QPaintDevice {
 public:
  struct Text {
    QString text;
    QPointF position;  // device pixels
  };
  explicit TextRecorder(QSize size) : size_(size), engine_(this) {}
  QPaintEngine* paintEngine() const override { return const_cast<Engine*>(&engine_); }
  std::vector<Text> texts;

 protected:
  int metric(PaintDeviceMetric metric) const override {
    switch (metric) {
      case PdmWidth:
        return size_.width();
      case PdmHeight:
        return size_.height();
      case PdmWidthMM:
        return size_.width() * 254 / 6000;
      case PdmHeightMM:
        return size_.height() * 254 / 6000;
      case PdmDpiX:
      case PdmDpiY:
      case PdmPhysicalDpiX:
      case PdmPhysicalDpiY:
        return 600;
      case PdmDepth:
        return 32;
      case PdmNumColors:
        return 0x7fffffff;
      case PdmDevicePixelRatio:
        return 1;
      case PdmDevicePixelRatioScaled:
        return static_cast<int>(QPaintDevice::devicePixelRatioFScale());
      default:
        return 0;
    }
  }

 private:
  class Engine : public QPaintEngine {
   public:
    explicit Engine(TextRecorder* owner) : QPaintEngine(AllFeatures), owner_(owner) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return User; }
    void updateState(const QPaintEngineState& state) override {
      if (state.state() & DirtyTransform) transform_ = state.transform();
    }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    // Lines and shapes are not recorded (the defaults of the other operations end here).
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawPath(const QPainterPath&) override {}
    void drawTextItem(const QPointF& p, const QTextItem& item) override {
      owner_->texts.push_back({item.text(), transform_.map(p)});
    }

   private:
    TextRecorder* owner_;
    QTransform transform_;
  };
  QSize size_;
  Engine engine_;
};

TEST_F(ResultsView, PrintedPageHasTheHeaderAboveTheGraph) {
  doc().DocumentResults() = MakeResults(10);
  doc().SetResultsAvailable(true);
  doc().UpdateAllViews();
  view().resize(800, 600);

  // A letter page at 600 dpi.
  const QSize page(4800, 6300);
  TextRecorder device(page);
  {
    QPainter painter(&device);
    view().PrintPage(painter, page, 600, 600);
  }
  ASSERT_FALSE(device.texts.empty());
  const auto& header = device.texts.front();
  EXPECT_EQ(header.text, "File:  Untitled");
  EXPECT_NEAR(header.position.x() + 0.0, page.width() / 2.0, page.width() * 0.2);  // centred
  // 12 pt at 600 dpi is 100 device pixels: the header's baseline lies 2 to 4 lines down.
  EXPECT_GT(header.position.y(), 150);
  EXPECT_LT(header.position.y(), 450);

  // The graph: laid out for the 800 x 600 client area, 8 inches wide on paper.
  double lowest = 0, rightmost = 0;
  bool title = false;
  for (const auto& t : device.texts) {
    if (&t == &header) continue;
    EXPECT_GT(t.position.y(), header.position.y()) << t.text.toStdString();
    lowest = std::max(lowest, t.position.y());
    rightmost = std::max(rightmost, t.position.x());
    title |= t.text == "Particle rotation frequency";
  }
  EXPECT_TRUE(title);
  EXPECT_LT(rightmost, 8 * 600);
  EXPECT_LT(lowest, 6 * 600 + 400);  // 600 px of the client area are 6 inches, under the header
  EXPECT_GT(lowest, 3 * 600);
}

TEST_F(ResultsView, PrintToPdfGivesOnePage) {
  doc().DocumentResults() = MakeResults(10);
  doc().SetResultsAvailable(true);
  doc().UpdateAllViews();
  const QString path = dir.filePath("print.pdf");
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path);
  ASSERT_TRUE(view().Print(printer));
  QFile pdf(path);
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  const QByteArray bytes = pdf.readAll();
  EXPECT_TRUE(bytes.startsWith("%PDF"));
  EXPECT_EQ(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") +
                bytes.count("/Type /Page/") + bytes.count("/Type /Page "),
            1)
      << "pages";
  EXPECT_TRUE(bytes.contains("/Count 1"));
}

TEST_F(ResultsView, PrintPreviewShowsOnePage) {
  doc().DocumentResults() = MakeResults(10);
  doc().SetResultsAvailable(true);
  doc().UpdateAllViews();
  test::ModalAnswerer answers;
  int pages = -1;
  answers.Then([&](QWidget* modal) {
    auto* preview = qobject_cast<QPrintPreviewDialog*>(modal);
    ASSERT_NE(preview, nullptr);
    auto* widget = preview->findChild<QPrintPreviewWidget*>();
    ASSERT_NE(widget, nullptr);
    ASSERT_TRUE(test::WaitFor([&] { return widget->pageCount() > 0; }, 5000));
    pages = widget->pageCount();
    preview->reject();
  });
  frame->printPreviewAct->trigger();
  EXPECT_EQ(pages, 1);
}

}  // namespace
}  // namespace zuba
