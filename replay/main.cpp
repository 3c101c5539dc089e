// spatialmemory-replay: draws again what the subject saw in the trials of a run, with the
// clicks laid over it. Everything is in tool.cpp; this is only the entry.
#include "replay/tool.h"

int main(int argc, char** argv) {
  return replaytool(argc, argv);
}
