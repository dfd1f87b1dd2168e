#pragma once
// What overwrote a deleted file: for one judged "Chain is in use", which
// live files now hold its clusters and how much of it is still free. The
// window's preview and the command line ask through here; the volume's index
// of live files' clusters is built at the first question and kept with the
// scan it answers for.
#include <string>
#include <vector>

namespace tsn {

struct AppState;
struct FoundFile;

struct OverwriteAnswer {
  // False: the file is no deleted file whose clusters are in use, or its
  // volume cannot tell; nothing else is set.
  bool known = false;
  // Its clusters that no live file holds, in tenths of a percent rounded
  // down (1000: all of them), and as text with one decimal ("62.5"); the
  // text is empty when where its clusters lay could not be read.
  unsigned freePermille = 0;
  std::string freePercent;
  // The live files holding its clusters, from the volume's root.
  std::vector<std::string> owners;
  // False: some of the volume could not be read, so other files may hold
  // its clusters too; `notes` says what.
  bool complete = true;
  std::vector<std::string> notes;
};

OverwriteAnswer WhoOverwrote(AppState* app, const FoundFile& file);

// Lets go of the kept index: the scan it answered for is gone.
void ForgetOverwrites(AppState* app);

}  // namespace tsn
