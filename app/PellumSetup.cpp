#include "app/PellumSetup.h"

#include "zip/Pellum.h"

namespace vornel {

void ConfigurePellum1(TPellum& pellum) {
  // FileName is not stored (it is empty), so it is left alone; Active comes last and, with no
  // FileName, opens nothing.
  pellum.SetIsZipFile(false);
  pellum.SetSaveMethod(TZipSaveMethod::FastSave);
  pellum.SetStoreRelativePath(false);
  pellum.SetStoreFolders(false);
  pellum.SetCompressionType(TZipCompressionType::ctMaximum);
  pellum.SetUseTempFiles(false);
  pellum.SetOverwriteAction(TOverwriteAction::oaOverwriteAll);
  pellum.SetComponentVersion("2.0");
  pellum.SetReadOnly(false);
  pellum.SetApplyAtributes(false);
  pellum.SetActive(false);
}

int PackLevel() {
  TPellum pellum;
  ConfigurePellum1(pellum);
  return ZlibLevel(pellum.GetCompressionType());
}

} // namespace vornel
