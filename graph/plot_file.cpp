// Offscreen rendering of the results graph into PNG, SVG and PDF files (see plot_file.h).
#include "graph/plot_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "graph/results_plot.h"
#include "platform/files.h"

namespace zuba {

namespace {

enum class PlotFormat { Unknown, Png, Svg, Pdf };

PlotFormat FormatOf(const std::string& path) {
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
    return PlotFormat::Unknown;
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == "png") return PlotFormat::Png;
  if (ext == "svg") return PlotFormat::Svg;
  if (ext == "pdf") return PlotFormat::Pdf;
  return PlotFormat::Unknown;
}

// 96 pixels per inch in the dots-per-metre of an image.
constexpr int kDotsPerMetre = 3780;

// Draws the white client area and the graph.
GraphDrawing Render(QPainter& painter, const PlotDrawing& draw, QSize size) {
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  return draw(painter, size);
}

bool RenderPng(const PlotDrawing& draw, QSize size, QByteArray& bytes, GraphDrawing& drawn) {
  QImage image(size, QImage::Format_RGB32);
  image.setDotsPerMeterX(kDotsPerMetre);
  image.setDotsPerMeterY(kDotsPerMetre);
  {
    QPainter painter(&image);
    drawn = Render(painter, draw, size);
  }
  if (!drawn) return true;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  return image.save(&buffer, "PNG");
}

bool RenderSvg(const PlotDrawing& draw, const std::string& title, QSize size, QByteArray& bytes,
               GraphDrawing& drawn) {
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(size);
  generator.setViewBox(QRect(QPoint(0, 0), size));
  generator.setResolution(kScreenLogicalDpi);
  generator.setTitle(QString::fromStdString(title));
  QPainter painter;
  if (!painter.begin(&generator)) return false;
  drawn = Render(painter, draw, size);
  return painter.end();
}

bool RenderPdf(const PlotDrawing& draw, const std::string& title, QSize size, QByteArray& bytes,
               GraphDrawing& drawn) {
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setResolution(kScreenLogicalDpi);
  writer.setTitle(QString::fromStdString(title));
  writer.setCreator(QStringLiteral("ZUBA"));
  // One page of exactly the client area: size / 96 inches, no margins.
  const QPageSize page(
      QSizeF(size.width() * 72.0 / kScreenLogicalDpi, size.height() * 72.0 / kScreenLogicalDpi),
      QPageSize::Point, QString(), QPageSize::ExactMatch);
  writer.setPageLayout(QPageLayout(page, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
  QPainter painter;
  if (!painter.begin(&writer)) return false;
  drawn = Render(painter, draw, size);
  return painter.end();
}

}  // namespace

bool IsPlotFileName(const std::string& path) {
  return FormatOf(path) != PlotFormat::Unknown;
}

bool EnsurePlotApplication(std::string& error) {
  if (QCoreApplication::instance() != nullptr) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) return true;
    error = "graphs need a graphical application object, and a non-graphical one exists";
    return false;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Without a session (a terminal over ssh, CI) Qt falls back to a private folder and warns on
  // stderr; give it that folder so that the command's output stays clean.
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    const QByteArray runtime = QByteArray("/tmp/runtime-") + QByteArray::number(::getuid());
    if (::mkdir(runtime.constData(), 0700) == 0 || errno == EEXIST)
      qputenv("XDG_RUNTIME_DIR", runtime);
  }
  // The application object lives until the process ends; its arguments must outlive it.
  static int argc = 1;
  static char name[] = "zuba";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);
  return true;
}

PlotWriting WritePlotFile(const ResultTables& results, const std::string& path, int width,
                          int height) {
  if (results.F0.size() < results.Rmn.size())
    return {ErrorFailure("the F0 table is shorter than the Rmn table (" +
                             std::to_string(results.F0.size()) + " < " +
                             std::to_string(results.Rmn.size()) + ")",
                         path),
            {}};
  return WriteDrawingFile(
      [&results](QPainter& painter, QSize size) {
        return DrawResultsGraph(painter, results, size);
      },
      kResultsGraphTitle, path, width, height);
}

PlotWriting WriteDrawingFile(const PlotDrawing& draw, const std::string& title,
                             const std::string& path, int width, int height) {
  const PlotFormat format = FormatOf(path);
  if (format == PlotFormat::Unknown)
    return {ErrorFailure("the plot file name must end in .png, .svg or .pdf: " + path, path), {}};
  if (width < 1 || height < 1 || width > kMaxPlotSide || height > kMaxPlotSide)
    return {ErrorFailure("the plot size must lie between 1 and " + std::to_string(kMaxPlotSide) +
                             " pixels in each direction, not " + std::to_string(width) + "x" +
                             std::to_string(height),
                         path),
            {}};
  if (std::string error; !EnsurePlotApplication(error)) return {ErrorFailure(error, path), {}};

  const QSize size(width, height);
  QByteArray bytes;
  GraphDrawing drawn;
  bool rendered = false;
  switch (format) {
    case PlotFormat::Png:
      rendered = RenderPng(draw, size, bytes, drawn);
      break;
    case PlotFormat::Svg:
      rendered = RenderSvg(draw, title, size, bytes, drawn);
      break;
    case PlotFormat::Pdf:
      rendered = RenderPdf(draw, title, size, bytes, drawn);
      break;
    case PlotFormat::Unknown:
      break;
  }
  if (!rendered)
    return {ErrorFailure("the graph could not be rendered for " + path, path),
            std::move(drawn.notes)};
  // Nothing to draw: the notes say why.
  if (!drawn) return {QuietFailure("nothing was drawn", path), std::move(drawn.notes)};
  const Outcome written =
      WriteFileAtomically(path, std::string_view(bytes.constData(), bytes.size()));
  if (!written)
    return {ErrorFailure("cannot write " + path + ": " + written.message().text, path),
            std::move(drawn.notes)};
  return {Outcome(), std::move(drawn.notes)};
}

}  // namespace zuba
