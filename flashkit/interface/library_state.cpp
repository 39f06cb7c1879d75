#include "flashkit/interface/library_state.h"

namespace flashkit {

LibraryState& State() {
  static LibraryState state;
  return state;
}

void LibraryAttach() {
  LibraryState& state = State();
  state.flashTableLoaded = LoadFlashIdTable(state.flashTable);
}

void LibraryDetach() { FreeFlashIdTable(State().flashTable); }

}  // namespace flashkit
