#include "viewer/dialogs/Printer.h"

#include "base/Log.h"
#include "images/PngWriter.h"
#include "viewer/dialogs/PrintPage.h"

#include <cups/cups.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

namespace kiv {

namespace {

// A4 at 300 dpi, the page of a file destination.
constexpr int kA4Width = 2480;
constexpr int kA4Height = 3508;

std::string NoService() {
    return std::string("No printer can be reached: the printing service (CUPS) does not answer (") +
           cupsLastErrorString() + ").";
}

// Hundredths of a millimetre to pixels at 300 dpi.
int Pixels(int hundredthsOfMm) {
    return static_cast<int>(static_cast<long long>(hundredthsOfMm) * kPrintDpi / 2540);
}

struct TDests {
    cups_dest_t* list = nullptr;
    int count = 0;
    ~TDests() { cupsFreeDests(count, list); }
};

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

} // namespace

std::vector<TPrintDestination> PrintDestinations(std::string& error) {
    error.clear();
    TDests dests;
    dests.count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests.list);
    std::vector<TPrintDestination> result;
    for (int i = 0; i < dests.count; ++i)
        result.push_back({dests.list[i].name, dests.list[i].is_default != 0});
    if (result.empty())
        error = cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE ? NoService()
                                                                : "No printer is set up on this computer.";
    return result;
}

bool PrintablePage(const std::string& destination, int& width, int& height, std::string& error) {
    if (IsFileDestination(destination)) {
        width = kA4Width;
        height = kA4Height;
        return true;
    }
    cups_dest_t* dest =
        cupsGetNamedDest(CUPS_HTTP_DEFAULT, destination.empty() ? nullptr : destination.c_str(), nullptr);
    if (!dest) {
        error = destination.empty() && cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE
                    ? "No printer is set up on this computer."
                    : NoService();
        if (!destination.empty() && cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND)
            error = "The printer \"" + destination + "\" is not known.";
        return false;
    }
    width = kA4Width;
    height = kA4Height;
    if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
        cups_size_t size{};
        if (cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest, info, 0, &size)) {
            const int w = Pixels(size.width - size.left - size.right);
            const int h = Pixels(size.length - size.top - size.bottom);
            if (w > 0 && h > 0) {
                width = std::min(w, h);
                height = std::max(w, h);
            }
        }
        cupsFreeDestInfo(info);
    }
    cupsFreeDests(1, dest);
    return true;
}

bool PrintPicture(const TBitmap& picture, const std::string& destination, std::string& error) {
    error.clear();
    if (picture.Width() <= 0 || picture.Height() <= 0) {
        error = "The picture is empty; nothing was printed.";
        return false;
    }
    int width = 0, height = 0;
    if (!PrintablePage(destination, width, height, error)) return false;
    const bool landscape = PrintsLandscape(picture.Width(), picture.Height());
    if (landscape) std::swap(width, height);
    TRef<TBitmap> page = RenderPrintPage(picture, width, height);
    if (!page) {
        error = "The page could not be drawn; nothing was printed.";
        return false;
    }
    TLog::Line("Print: " + std::to_string(picture.Width()) + "x" + std::to_string(picture.Height()) +
               " on a " + std::to_string(width) + "x" + std::to_string(height) + " page to " +
               (destination.empty() ? std::string("the default printer") : destination));
    if (IsFileDestination(destination)) {
        if (WritePngFile(*page, destination)) return true;
        error = "The page cannot be written to \"" + destination + "\".";
        return false;
    }

    std::string file = TemporaryFolder() + "/kivprint-XXXXXX.png";
    const int fd = ::mkstemps(file.data(), 4);
    if (fd < 0) {
        error = "The page cannot be written to a temporary file.";
        return false;
    }
    ::close(fd);
    const bool written = WritePngFile(*page, file);
    int job = 0;
    if (written) {
        cups_option_t* options = nullptr;
        int count = 0;
        // The page is already the printable area at 300 dpi, turned as the picture asks.
        count = cupsAddOption("ppi", std::to_string(kPrintDpi).c_str(), count, &options);
        if (landscape) count = cupsAddOption("landscape", "true", count, &options);
        cups_dest_t* dest =
            cupsGetNamedDest(CUPS_HTTP_DEFAULT, destination.empty() ? nullptr : destination.c_str(), nullptr);
        if (dest) {
            job = cupsPrintFile2(CUPS_HTTP_DEFAULT, dest->name, file.c_str(), kPrintJobName, count, options);
            cupsFreeDests(1, dest);
        }
        cupsFreeOptions(count, options);
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    if (!written) {
        error = "The page cannot be written to a temporary file.";
        return false;
    }
    if (job == 0) {
        error = std::string("The page was not printed: ") + cupsLastErrorString();
        return false;
    }
    TLog::Line("Print: job " + std::to_string(job) + " submitted");
    return true;
}

} // namespace kiv
