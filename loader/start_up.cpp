#include "loader/start_up.h"

#include "loader/command_line.h"
#include "loader/loader_dialog.h"
#include "resources/dialog_template.h"

int LoaderMain(const wchar_t* commandLine) {
  LoaderContext context;
  RunLoaderDialog(&context, commandLine, kRequiredFiles, nullptr);
  return 0;
}

std::intptr_t RunLoaderDialog(LoaderContext* context, const wchar_t* commandLine,
                              const wchar_t* const* requiredFiles,
                              const wchar_t* const* setupPackages) {
  context->requiredFiles = requiredFiles;
  context->setupPackages = setupPackages;
  ParseCommandLine(context, commandLine);

  const platform::DialogTemplate* dialogTemplate =
      resources::FindDialogTemplate(context->dialogId & 0xFFFF);
  if (dialogTemplate == nullptr) {
    return -1;
  }
  return platform::Dialogs().RunModal(*dialogTemplate, LoaderDialogProc,
                                      reinterpret_cast<std::intptr_t>(context));
}
