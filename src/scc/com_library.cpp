// ClComLibrary: CoInitialize on first need, CoUninitialize at exit.
#include "scc/com_library.h"

#include <stdlib.h>

#include "res/string_ids.h"
#include "scc/com_exception.h"

ClComLibrary* ClComLibrary::instance;

void ClComLibrary::Ensure() {
  if (instance) return;
  instance = new ClComLibrary();
  atexit(Destroy);
}

ClComLibrary::ClComLibrary() {
  const HRESULT result = CoInitialize(nullptr);
  if (FAILED(result)) {
    throw new ClComException(
        ClMessage::Reference(result == RPC_E_CHANGED_MODE ? IDS_COM_CHANGED_MODE
                                                          : IDS_COM_INIT_FAILED),
        result);
  }
}

ClComLibrary::~ClComLibrary() { CoUninitialize(); }

void ClComLibrary::Destroy() {
  delete instance;
  instance = nullptr;
}
