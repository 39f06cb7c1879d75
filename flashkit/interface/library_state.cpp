#include "flashkit/interface/library_state.h"

#include <new>

namespace flashkit {

LibraryState& State() {
  // Never destroyed by the runtime: the unload hook may run after static destructors at exit,
  // so LibraryDetach releases what the state owns instead.
  alignas(LibraryState) static unsigned char storage[sizeof(LibraryState)];
  static LibraryState* state = new (storage) LibraryState;
  return *state;
}

void LibraryAttach() {
  LibraryState& state = State();
  state.flashTableLoaded = LoadFlashIdTable(state.flashTable);
}

void LibraryDetach() {
  LibraryState& state = State();
  FreeFlashIdTable(state.flashTable);
  // The strings and the list's own storage go with the library.
  state = LibraryState{};
}

}  // namespace flashkit
