#include "ui/run_end.h"

#include "app/launcher.h"
#include "common/layout.h"
#include "common/texts.h"
#include "download/partial_file.h"

void startApplication() {
    launchApplication(kApplicationExe, L"");
}

int endAfterServerFailure() {
    MessageBoxW(nullptr, kServerFailureText, kServerFailureCaption, MB_ICONERROR | MB_OK);
    return kExitNormal;
}

int endWhileUpdatedElsewhere() {
    MessageBoxW(nullptr, kUpdatingElsewhereText, kWindowTitle, MB_ICONINFORMATION | MB_OK);
    return kExitNormal;
}

int endWithoutWriteAccess() {
    MessageBoxW(nullptr, kFolderNotWritableText, kWindowTitle, MB_ICONWARNING | MB_OK);
    startApplication();
    return kExitNormal;
}

int endWithNothingNewer() {
    removePartialDownload(kPackageFile);
    startApplication();
    return kExitNormal;
}

void endWithApplication(HWND window) {
    startApplication();
    DestroyWindow(window);
}
