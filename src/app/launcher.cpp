#include "app/launcher.h"

#include "app/launch_command.h"
#include "common/process.h"

OwnedKernelHandle launchApplication(const std::wstring& executablePath, const std::wstring& arguments) {
    const std::wstring workingDirectory = applicationWorkingDirectory(executablePath);
    return startProcess(nullptr, applicationCommandLine(executablePath, arguments), 0,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str());
}
