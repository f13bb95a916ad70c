#include "wfload/DialogState.h"

TDialogState& DialogState() {
  // Lives until the library is unloaded.
  static TDialogState state;
  return state;
}

void ResetDialogState() { DialogState() = TDialogState(); }
