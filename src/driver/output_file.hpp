// output_file.hpp: the result file of a run.
//
// The file is opened when the deck names it, before anything else is read:
// created empty if missing, an existing file left as it is. It receives its
// whole content in one step at the end of a complete run, written over the
// old content from the start and cut to the new length, so that a run that
// stops early leaves an existing file untouched. The file is rewritten in
// place (not replaced by a renamed copy), so links, owner and mode are kept.
#pragma once

#include <fstream>
#include <string>

namespace velmar {

class LineSource;

class OutputFile {
 public:
  // Opens `name`; a failure throws the input error for line `line` of `deck`.
  void open(const std::string& name, const LineSource& deck, int line);
  // Replaces the file's content with `text`; throws RunStop (status 2) when writing fails.
  void replace_content(const std::string& text);

 private:
  std::fstream file_;
  std::string name_;
};

}  // namespace velmar
