// test_page.cc - the built-in test page of both models.
#include "printer/test_page.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "common/unique_file.h"

namespace qvprinter {
namespace {

constexpr double kPointsPerHmm = 72.0 / 2540.0;

// A number as PDF writes it, in the C locale whatever the server's.
std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  for (char& c : text)
    if (c == ',') c = '.';
  return text;
}

// A PDF string literal: backslash, parentheses escaped; only printable ASCII.
std::string pdfString(std::string_view text) {
  std::string out = "(";
  for (const char c : text) {
    if (c == '\\' || c == '(' || c == ')') out += '\\';
    out += (c >= ' ' && c <= '~') ? c : '?';
  }
  return out + ")";
}

class Content {
 public:
  void text(double x, double y, double size, std::string_view line) {
    out_ += "BT /F1 " + number(size) + " Tf " + number(x) + " " + number(y) + " Td " +
            pdfString(line) + " Tj ET\n";
  }
  void box(double x, double y, double width, double height, const std::string& fill) {
    out_ += fill + " " + number(x) + " " + number(y) + " " + number(width) + " " + number(height) +
            " re f\n";
  }
  void line(double x0, double y0, double x1, double y1) {
    out_ += number(x0) + " " + number(y0) + " m " + number(x1) + " " + number(y1) + " l S\n";
  }
  void raw(std::string_view operators) { out_ += operators; }
  const std::string& str() const { return out_; }

 private:
  std::string out_;
};

// Crosshairs with a circle: where the printer put the page's centre and
// corners, to compare with the paper's.
void alignmentMark(Content& page, double x, double y, double radius) {
  page.line(x - 2 * radius, y, x + 2 * radius, y);
  page.line(x, y - 2 * radius, x, y + 2 * radius);
  const double k = radius * 0.5523;  // four Bezier arcs make the circle
  page.raw(number(x + radius) + " " + number(y) + " m " + number(x + radius) + " " + number(y + k) +
           " " + number(x + k) + " " + number(y + radius) + " " + number(x) + " " +
           number(y + radius) + " c " + number(x - k) + " " + number(y + radius) + " " +
           number(x - radius) + " " + number(y + k) + " " + number(x - radius) + " " + number(y) +
           " c " + number(x - radius) + " " + number(y - k) + " " + number(x - k) + " " +
           number(y - radius) + " " + number(x) + " " + number(y - radius) + " c " + number(x + k) +
           " " + number(y - radius) + " " + number(x + radius) + " " + number(y - k) + " " +
           number(x + radius) + " " + number(y) + " c S\n");
}

}  // namespace

std::string testPagePdf(const TestPageInfo& info) {
  const double width = info.widthHmm * kPointsPerHmm, height = info.lengthHmm * kPointsPerHmm;
  const double margin = kMarginHmm * kPointsPerHmm;
  Content page;
  // The printable area's frame and alignment marks at its corners and at
  // the page's centre.
  // A 1-point line just inside the margins: the colour model's raster ends
  // at the margins and would cut a line centred on them in half.
  const double frame = margin + 0.5;
  page.raw("0 0 0 RG 1 w\n");
  page.raw(number(frame) + " " + number(frame) + " " + number(width - 2 * frame) + " " +
           number(height - 2 * frame) + " re S\n0.5 w\n");
  const double inset = margin + 20;
  for (const double x : {inset, width - inset})
    for (const double y : {inset, height - inset}) alignmentMark(page, x, y, 6);
  alignmentMark(page, width / 2, height / 2, 18);

  double y = height - margin - 48;
  const double left = margin + 36;
  page.raw("0 g\n");
  page.text(left, y, 22, info.makeAndModel + " test page");
  page.text(left, y -= 28, 11, "Driver: " + info.driverName + "    Printer: " + info.printerName);
  page.text(left, y -= 16, 11,
            "Resolution: " + std::to_string(info.dpi) + " dpi    Paper: " + info.mediaName);
  page.text(left, y -= 16, 11,
            "The frame is the printable area, " + number(kMarginHmm / 100.0) +
                " mm inside every edge of the paper.");

  // Ramps of 11 patches from none to full: grey, then the toners (CMYK),
  // then the screen primaries (RGB).
  const double ramp = width - 2 * left, patch = ramp / 11, row = 24;
  // Below the centre mark, clear of it.
  y = height / 2 - 60;
  const char* names[] = {"Grey", "Cyan", "Magenta", "Yellow", "Black", "Red", "Green", "Blue"};
  for (int kind = 0; kind < 8; ++kind) {
    page.raw("0 g\n");
    page.text(left, y + row + 3, 9, names[kind]);
    for (int step = 0; step <= 10; ++step) {
      const std::string t = number(step / 10.0), paper = number(1 - step / 10.0);
      const std::string fill = kind == 0   ? paper + " g"
                               : kind == 1 ? t + " 0 0 0 k"
                               : kind == 2 ? "0 " + t + " 0 0 k"
                               : kind == 3 ? "0 0 " + t + " 0 k"
                               : kind == 4 ? "0 0 0 " + t + " k"
                               : kind == 5 ? "1 " + paper + " " + paper + " rg"
                               : kind == 6 ? paper + " 1 " + paper + " rg"
                                           : paper + " " + paper + " 1 rg";
      page.box(left + step * patch, y, patch, row, fill);
    }
    page.raw("0 G " + number(left) + " " + number(y) + " " + number(ramp) + " " + number(row) +
             " re S\n");
    y -= row + 16;
  }
  page.raw("0 g\n");
  for (int step = 0; step <= 10; ++step)
    page.text(left + step * patch + 4, y + row + 4, 8, std::to_string(step * 10) + "%");

  const std::string box = "[0 0 " + number(width) + " " + number(height) + "]";
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox " + box +
          " /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      "<< /Length " + std::to_string(page.str().size()) + " >>\nstream\n" + page.str() +
          "endstream"};
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::size_t offset : offsets) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

const char* testPageCallback(pappl_printer_t* printer, char* buffer, std::size_t bufsize) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  TestPageInfo info;
  info.makeAndModel = data.make_and_model;
  const char* driver = papplPrinterGetDriverName(printer);
  const char* name = papplPrinterGetName(printer);
  info.driverName = driver != nullptr ? driver : "";
  info.printerName = name != nullptr ? name : "";
  if (data.media_default.size_width > 0 && data.media_default.size_length > 0) {
    info.widthHmm = data.media_default.size_width;
    info.lengthHmm = data.media_default.size_length;
    info.mediaName = data.media_default.size_name;
  }
  info.dpi = data.x_default > 0 ? data.x_default : 600;

  // In PAPPL's temporary directory, which it cleans with the job.
  std::string path = std::string(papplGetTempDir()) + "/qvprinter-testpage-XXXXXX.pdf";
  const qv::UniqueFd fd(::mkstemps(path.data(), 4));
  const std::string pdf = testPagePdf(info);
  if (!fd || ::write(fd.get(), pdf.data(), pdf.size()) != static_cast<ssize_t>(pdf.size()) ||
      path.size() >= bufsize) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "The test page cannot be written to %s.",
                    path.c_str());
    if (fd) ::unlink(path.c_str());
    return nullptr;
  }
  std::snprintf(buffer, bufsize, "%s", path.c_str());
  return buffer;
}

}  // namespace qvprinter
