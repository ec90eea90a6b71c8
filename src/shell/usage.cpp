#include "shell/usage.h"

#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace fb {

namespace {

// A term and what it means: a flag, a file, an example command.
struct Item {
  const char* term;
  const char* text;
};

struct Section {
  const char* title;  // as in --help; the manual page writes it in capitals
  const char* text;   // a paragraph before the items, or nullptr
  std::initializer_list<Item> items;
};

constexpr const char* kSummary = "an animated-GIF editor and batch tool";

constexpr const char* kSynopsis[] = {
    "flickbook [FILE...]",
    "flickbook -i FILE|PATTERN... [-l LIST] [-t N] [-z] [-o OUT]",
    "flickbook --each [OPTIONS] -i FILE|PATTERN... (-o FOLDER | --in-place)",
    "flickbook --info [--verbose] FILE...",
    "flickbook -h | --help | --version",
};

const Section kSections[] = {
    {"Description",
     "Without flags, flickbook starts the editor and opens the FILEs given (GIF, PNG and animated "
     "PNG, AVI, "
     "BMP, JPEG, Photoshop, icons, cursors and animated cursors). A command line that starts "
     "with a flag runs the batch tool instead, without a window: it reads animations and "
     "pictures, merges them into one animation, and writes it.",
     {}},
    {"Batch flags",
     "Flags run from left to right. A flag starts only at an argument that begins with '-'.",
     {
         {"-i FILE|PATTERN...",
          "read these files (quoted patterns are expanded and sorted by name) and add their "
          "frames to the animation"},
         {"-l LIST", "read the files named in LIST, one path per line"},
         {"-t N",
          "set every frame's delay to N (hundredths of a second unless the time base was "
          "changed)"},
         {"-z", "optimize with the saved optimizer options"},
         {"-o OUT", "save the animation as OUT (the type from its extension)"},
         {"-h, --help", "this text"},
         {"--version", "the version"},
     }},
    {"Long options",
     "For scripts. None of them changes the saved settings: each holds for this run only. "
     "A FILE or OUT of - is standard input or output.",
     {
         {"--info FILE...",
          "describe each file: type, screen size, frames, loop behaviour, running time, "
          "palette and size (exit status 1 when one does not read completely)"},
         {"--verbose", "with --info, one line per frame; with --each, say which inputs were kept"},
         {"--each",
          "process every input on its own and save it under its own name, in its own type"},
         {"-o FOLDER", "with --each, the folder the outputs go to"},
         {"--in-place", "with --each, replace each input (safely, as every save)"},
         {"-j N", "with --each, N files at once (default: one per core)"},
         {"--format TYPE",
          "save as TYPE (gif, png, apng, avi, bmp, jpg, psd, ico, cur, ani, swf), whatever "
          "the name; standard output is GIF without it"},
         {"--optimize[=WORD]",
          "optimize with the saved options, or with the option bits WORD (0x46E or 1134); "
          "with --each alone, an output that would be larger keeps its input's bytes; "
          "--optimize=best: the lossless options with the smallest LZW layout (0x106E)"},
         {"--lossy N", "lossy LZW of strength N (0 off) in the optimizations: smaller, noisier"},
         {"--colors N", "reduce every palette to N colours (2..256)"},
         {"--dither", "with --colors, diffuse the error"},
         {"--quality", "with --colors, the slower high-quality palettes"},
         {"--loop N", "the loop count in the file: 0 loops for ever, N repeats N more times"},
         {"--delay N", "as -t"},
         {"--truecolour-png",
          "save PNG as 24- or 32-bit, so that any animation can be an animated PNG"},
         {"--no-signature", "no signature comment in the GIFs written"},
     }},
    {"Exit status",
     "0 when every step succeeded, 1 when any step failed, 128 + the signal's number when "
     "interrupted (SIGINT, SIGTERM; a save under way leaves the target as it was).",
     {}},
    {"Files",
     nullptr,
     {
         {"$XDG_CONFIG_HOME/norvane/Flickbook/2.0/settings",
          "the preferences, kept between runs (~/.config when XDG_CONFIG_HOME is unset)"},
         {"PREFIX/share/flickbook/",
          "help pages, the tutorial and sample animations, where PREFIX is the folder above the "
          "one holding flickbook"},
     }},
    {"Examples",
     nullptr,
     {
         {"flickbook -i 'frames/*.gif' -t 10 -z -o all.gif",
          "merge the GIFs of frames/ in name order, give every frame a delay of a tenth of a "
          "second, optimize and save all.gif"},
         {"flickbook --each --optimize -i 'in/*.gif' -o out/",
          "optimize every GIF of in/ on its own into out/"},
         {"flickbook --info --verbose anim.gif", "describe anim.gif frame by frame"},
     }},
};

constexpr size_t kWidth = 79;
constexpr size_t kTermColumn = 22;

// Appends `text` wrapped at kWidth; the first line continues `out`'s last line
// (already `column` characters long), the others start at `indent`.
void wrap(std::string& out, const char* text, size_t column, size_t indent) {
  std::string word;
  bool lineStart = true;
  auto flush = [&] {
    if (word.empty()) return;
    if (!lineStart && column + 1 + word.size() > kWidth) {
      out += '\n';
      out.append(indent, ' ');
      column = indent;
      lineStart = true;
    }
    if (!lineStart) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    word.clear();
    lineStart = false;
  };
  for (const char* p = text; *p; ++p) {
    if (*p == ' ')
      flush();
    else
      word += *p;
  }
  flush();
  out += '\n';
}

// man(7) text: backslashes and minus signs escaped.
std::string roff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  return out;
}

// A line of text that groff must not take for a request.
std::string roffLine(std::string text) {
  if (!text.empty() && (text[0] == '.' || text[0] == '\'')) text.insert(0, "\\&");
  return text + "\n";
}

// A term in the manual: flags in bold, placeholders (capital words) in italics,
// the punctuation between them upright (FILE|PATTERN..., [-l LIST]).
std::string roffTerm(std::string_view term) {
  std::string out;
  std::string token;
  auto flush = [&] {
    if (token.empty()) return;
    bool lower = false, letters = false;
    for (char c : token) {
      if (c >= 'a' && c <= 'z') lower = true;
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) letters = true;
    }
    if (token[0] == '-' || token == "flickbook")
      out += "\\fB" + roff(token) + "\\fR";
    else if (letters && !lower)
      out += "\\fI" + roff(token) + "\\fR";
    else
      out += roff(token);
    token.clear();
  };
  for (char c : term) {
    if (c == ' ' || c == '|' || c == '[' || c == ']' || c == '(' || c == ')' || c == ',' ||
        c == '.') {
      flush();
      out += c;
    } else {
      token += c;
    }
  }
  flush();
  return roffLine(out);
}

std::string upper(const char* s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

std::string usageText() {
  std::string out;
  for (size_t i = 0; i < std::size(kSynopsis); ++i) {
    out += i == 0 ? "usage: " : "       ";
    out += kSynopsis[i];
    out += '\n';
  }
  for (const Section& s : kSections) {
    out += '\n';
    out += s.title;
    out += ":\n";
    if (s.text) {
      out += "  ";
      wrap(out, s.text, 2, 2);
    }
    for (const Item& item : s.items) {
      out += "  ";
      out += item.term;
      size_t column = 2 + std::string_view(item.term).size();
      if (column + 2 > kTermColumn) {
        out += '\n';
        column = 0;
      }
      out.append(kTermColumn - column, ' ');
      wrap(out, item.text, kTermColumn, kTermColumn);
    }
  }
  return out;
}

std::string manPage() {
  std::string out;
  out += ".TH FLICKBOOK 1 \"\" \"Flickbook " FLICKBOOK_VERSION "\" \"User Commands\"\n";
  // Unhyphenated and ragged right: the page reads like the --help text.
  out += ".nh\n.ad l\n";
  out += ".SH NAME\n";
  out += roffLine("flickbook \\- " + roff(kSummary));
  out += ".SH SYNOPSIS\n";
  for (size_t i = 0; i < std::size(kSynopsis); ++i) {
    if (i) out += ".br\n";
    out += roffTerm(kSynopsis[i]);
  }
  for (const Section& s : kSections) {
    out += ".SH " + upper(s.title) + "\n";
    if (s.text) out += roffLine(roff(s.text));
    for (const Item& item : s.items)
      out += ".TP\n" + roffTerm(item.term) + roffLine(roff(item.text));
  }
  return out;
}

}  // namespace fb
