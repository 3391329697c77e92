// Output.h - writing results to standard output or a file, with every
// failed write or close reported.
#ifndef EN_TOOLS_OUTPUT_H
#define EN_TOOLS_OUTPUT_H

#include <stdexcept>
#include <string>
#include <string_view>

namespace tool {

// A failed write, close or creation: what() is "cannot write NAME: why"
// or "cannot create NAME: why".  closedPipe
// when the reader of a pipe has gone away, which ends a run quietly.
class OutputError : public std::runtime_error {
public:
    OutputError(const std::string& what, bool pipe) : std::runtime_error(what), closedPipe(pipe) {}
    bool closedPipe;
};

// Buffered output to standard output ("" or "-") or to a file.  A file
// that is a device or a FIFO is written directly.  Any other file (one
// that does not exist yet, or a regular file, also through a symbolic
// link, which is followed) is written to a temporary file in the same
// folder, which Close renames over it; until then the file is untouched,
// and Discard only removes the temporary file.  Throws OutputError.
class Output {
public:
    explicit Output(const std::string& path = "");
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void Write(std::string_view bytes);
    // Writes what is buffered.
    void Flush();
    // Flushes and closes; a file is then complete and in its place.
    void Close();
    // Closes and removes the temporary file, which leaves the file as it
    // was; nothing for standard output or a device.
    void Discard();

private:
    void WriteAll(std::string_view bytes);  // unbuffered
    int m_fd;
    std::string m_name;
    std::string m_target;  // the regular file that Close replaces, or ""
    std::string m_temp;    // the temporary file written instead, or ""
    std::string m_buffer;
};

}  // namespace tool

#endif  // EN_TOOLS_OUTPUT_H
