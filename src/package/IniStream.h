// Reading INI documents from package streams and saving them to streams. The document itself
// (ini/IniFile.h) knows only text; these entry points decode a stream's bytes into it and write
// its text out through a buffered saver.
#pragma once

#include "ini/IniFile.h"
#include "ini/TextSaver.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

class TStream;

// Buffers 32 768 bytes and writes them to `stream` when the buffer is full and at Finish().
// Raises EStreamWriteError when the stream takes fewer bytes. The stream must outlive the saver;
// bytes not yet handed on when the saver is destroyed without Finish() are dropped.
class TStreamTextSaver : public TTextSaver {
public:
    static constexpr std::size_t kBufferSize = 32768;

    explicit TStreamTextSaver(TStream& stream);
    void Finish() override;

protected:
    void Put(const char* data, std::size_t size) override;

private:
    void FlushBuffer();

    TStream& stream_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// Reads the stream from its position to its end and decodes it (ini/TextDecoding.h). nullopt when
// the stream is larger than kMaxTextBytes or a read comes up short; stream errors
// (Exception-derived) are not caught.
std::optional<std::string> ReadDecodedText(TStream& stream);

// Clears `document`, then decodes the stream from its position to its end and parses it. False
// (document empty) when the stream is too large or cannot be read whole.
bool LoadIniFromStream(TIniFile& document, TStream& stream);

// Writes the document's text (CR LF line ends, optionally a UTF-8 byte-order mark first).
void SaveIniToStream(const TIniFile& document, TStream& stream, bool byteOrderMark = false);

} // namespace kiv
