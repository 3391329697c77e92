// Input.h - reading message files: JSON messages and blobs.
//
// A file holds a JSON message when its first 64 KiB contain no NUL byte and
// its first byte that is not white space (after an optional UTF-8 byte
// order mark) is '{' or '['.  Anything else is a blob (docs/blob-format.md);
// an encoded message always has a NUL byte among its first 8, since every
// entry header holds a data type code below 2^24.  Empty files and UTF-16
// text are neither.  Input that starts as gzip data does (bytes 1f 8b 08)
// is inflated first, whatever its name: a blob starts with an entry ID,
// and no ID of the grammars has those low bytes.
#ifndef EN_TOOLS_INPUT_H
#define EN_TOOLS_INPUT_H

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "MessageJson.h"

namespace tool {

using msgjson::InputError;

// The bytes of a file descriptor, inflated (zlib) when they start as gzip
// data does; several gzip members one after another are one text.
class Source {
public:
    explicit Source(int fd);
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // As read(2): some bytes, 0 at the end.  Throws InputError "read error:
    // REASON" or "gzip data: REASON".
    size_t Read(char* p, size_t n);
    // Compressed bytes are at hand: the next Read needs no input.
    bool Pending() const;
    int Fd() const { return m_fd; }

private:
    struct Inflate;
    ssize_t Raw(char* p, size_t n);

    int m_fd;
    bool m_started = false;
    std::unique_ptr<Inflate> m_gzip;  // when the input is gzip data
};

// Whether the first bytes of a file are those of a JSON message.
bool IsJsonText(std::string_view prefix);

// Throws InputError when the first bytes of a file (all of them, when
// whole) are neither a JSON message nor a blob: "empty file", "UTF-16 text:
// save it as UTF-8".
void CheckContent(std::string_view prefix, bool whole);

// A message file, or standard input for "-", opened and told JSON from
// blob by its first bytes.  Anything that is not a regular file (a pipe, a
// FIFO, a terminal, a device) is read as a stream, once from start to end:
// the same bytes give the same message whatever holds them.  Errors name no
// file: the caller adds it.
class InputFile {
public:
    // Throws InputError: "is a directory", "cannot open: REASON", "read
    // error: REASON", "empty file", "UTF-16 text: save it as UTF-8".
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool IsJson() const { return m_json; }

    // A JSON message, read whole, then parsed by reader, each value
    // converted straight into the handle; its text is then moved into *text
    // when given.
    msgjson::Message ReadJson(msgjson::Reader& reader, msgjson::Handle& into, const msgjson::Overrides& overrides,
                              std::string* text = nullptr);
    // The same with the entries handed to sink.
    msgjson::Message ReadJson(msgjson::Reader& reader, const msgjson::EntrySink& sink,
                              const msgjson::Overrides& overrides);

    // A blob, read straight into the handle: a regular file in one read
    // into room for its size, a stream into room that doubles.  Its kind and
    // type are those the overrides give, else those of a log of the type of
    // its MsgType entry (msgjson::MsgTypeEntry) when it has one, else a
    // registration message.  Throws InputError "read error: REASON",
    // "larger than 4 GiB - 1 bytes, the most a message holds";
    // std::bad_alloc.
    msgjson::Message ReadBlob(msgjson::Handle& into, const msgjson::Overrides& overrides);

private:
    // The first bytes, then the rest of the input, with extra bytes of capacity.
    template <class Bytes>
    Bytes ReadRest(size_t extra);

    int m_fd = -1;
    std::unique_ptr<Source> m_source;
    bool m_own = false;  // m_fd is closed at the end
    size_t m_size = 0;   // of a regular file when opened, else 0
    std::string m_prefix;
    bool m_json = false;
};

}  // namespace tool

#endif  // EN_TOOLS_INPUT_H
