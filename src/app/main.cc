// The converter's executable: the entry on this machine's platform and file room.
#include "app/entry.h"
#include "platform/files.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  auto platform = quorda::make_posix_platform();
  auto files = quorda::make_posix_files();
  return quorda::quorda_main(argc, argv, *platform, *files);
}
