// make_manpage: writes the manual page flickbook(1), gzip-compressed, from the
// same sections as `flickbook --help`.
//
//   make_manpage OUT.1.gz
#include <zlib.h>

#include <cstdio>
#include <string>

#include "shell/usage.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_manpage OUT.1.gz\n");
    return 2;
  }
  std::string page = fb::manPage();
  // zlib's header carries no time stamp: the same page gives the same bytes.
  gzFile f = gzopen(argv[1], "wb9");
  bool ok = f && gzwrite(f, page.data(), static_cast<unsigned>(page.size())) ==
                     static_cast<int>(page.size());
  if (f && gzclose(f) != Z_OK) ok = false;
  if (!ok) {
    std::fprintf(stderr, "make_manpage: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
