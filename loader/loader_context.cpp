#include "loader/loader_context.h"

#include "loader/platform_detection.h"
#include "resources/loader_resources.h"

const wchar_t* const kRequiredFiles[] = {
    L"Solvane.Mobile.Common.dll",
    L"Solvane.FerroVan.Mobile.Client.exe",
    L"Solvane.Ferrovan.Mobile.Client.Business.dll",
    L"Solvane.Ferrovan.Mobile.Client.Common.dll",
    L"Solvane.Ferrovan.Mobile.Client.Data.dll",
    L"Solvane.Ferrovan.Mobile.GUI.dll",
    nullptr,
};

const wchar_t* const kMessagesPackages[2] = {
    L"NETCFv35.Messages.EN.cab",
    L"NETCFv35.Messages.EN.wm.cab",
};

LoaderContext::LoaderContext()
    : dialog(nullptr),
      statusLabel(nullptr),
      urlEdit(nullptr),
      okButton(nullptr),
      cancelButton(nullptr),
      serverAddress{},
      installDirAnsi{},
      appDirAnsi{},
      requiredFiles(nullptr),
      setupPackages(nullptr),
      dialogId(0),
      statusLabelId(0),
      urlEditId(0),
      okButtonId(0),
      cancelButtonId(0),
      statusMessage{},
      installDir{},
      appDir{},
      appDirAvailable(false),
      forceUpgrade(false),
      updateLoader(false),
      installCfMessages(false),
      loaderExeName{},
      newLoaderExeName{},
      shortcutName{},
      downloadUrlFormat{},
      downloadUrlFormatWithScheme{},
      clientExeName{},
      platformKind(DetectPlatform()),
      releaseState(ReleaseState::NotFetched),
      release{} {
  platform::CopyText(installDir, L"Program Files\\FerroVanMobile\\");
  platform::CopyText(appDir, L"Application\\FerroVanMobile\\");

  platform::WideToNarrow(installDirAnsi, installDir);
  platform::WideToNarrow(appDirAnsi, appDir);

  platform::CopyText(loaderExeName, L"FerroVan.Mobile.Client.Load.exe");
  platform::CopyText(newLoaderExeName, L"FerroVan.Mobile.Client.Load.New.exe");
  platform::CopyText(clientExeName, L"Solvane.FerroVan.Mobile.Client.exe");
  platform::CopyText(shortcutName, L"Quillmar Transport");
  platform::CopyText(downloadUrlFormat, L"http://%sFerroVanService/WebService/Downloads/%s");
  platform::CopyText(downloadUrlFormatWithScheme, L"%sWebService/Downloads/%s");

  dialogId = IDD_LOADER;
  statusLabelId = IDC_LOADER_STATUS;
  urlEditId = IDC_LOADER_URL;
  okButtonId = IDC_LOADER_OK;
  cancelButtonId = IDC_LOADER_CANCEL;
}

bool IsPlainCeDevice(const LoaderContext* context) {
  return context->platformKind == kPlatformPlainCe;
}
