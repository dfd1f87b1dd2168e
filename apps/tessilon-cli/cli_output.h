#pragma once
// Where the command line's listings and reports go, and how the names in
// them are shown: names come from damaged or hostile volumes and may hold
// any byte, and a full disk must not pass for a finished file.
#include <cerrno>
#include <string>
#include <string_view>

namespace tsn::cli {

// A name as text for a terminal: control characters (and the bytes of C1
// controls or of broken UTF-8) become \n, \t, \r or \xNN, and a backslash
// is doubled, so that every shown name reads back to exactly its bytes. Log
// lines keep their backslashes single: the engine already shows the names
// in them escaped, and they are read, not parsed.
enum class Backslash { Doubled, Single };
std::string EscapeControls(std::string_view text, Backslash backslash = Backslash::Doubled);
void AppendEscapedControls(std::string& out, std::string_view text, Backslash backslash = Backslash::Doubled);

// A name as the inside of a JSON string: quotes, backslashes and control
// characters escaped, and each byte that does not belong to well-formed
// UTF-8 replaced by U+FFFD (one for each broken sequence, the byte that broke it read anew),
// so that any name a volume holds is written and every line parses.
void AppendJsonString(std::string& out, std::string_view text);

// Output written through checked writes: stdout, or a file that is written
// under a ".partial-" name beside its own and renamed into place only once
// every byte is on disk. The first failure is kept and later writes are
// dropped; a file not finished is removed.
class Output {
 public:
  Output() = default;  // stdout
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Opens the partial file for `path`; false when it cannot be made.
  bool OpenFile(const std::string& path);
  void Write(std::string_view bytes);
  // Writes what is held back and, for a file, syncs it to disk, closes it
  // and gives it its name. False on any failure, the file then removed.
  bool Finish();
  // errno of the first failure, 0 while there is none.
  int Error() const { return error_; }
  bool Failed() const { return error_ != 0; }
  // The reader of stdout went away (`scan | head`): not a failure of ours.
  bool ReaderGone() const { return error_ == EPIPE; }
  // The cause, as strerror says it.
  std::string Cause() const;

 private:
  void Drain();
  void Fail(int error);
  void RemovePartial();

  int fd_ = 1;
  std::string path_, partial_;  // empty for stdout
  std::string held_;
  int error_ = 0;
  bool finished_ = false;
};

}  // namespace tsn::cli
