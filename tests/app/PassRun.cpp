// Runs the device pass against the fake supervisor and collects what it printed, beeps included.
#include "tests/app/PassRun.h"

#include "app/DevicePass.h"
#include "base/ClArray.h"
#include "errors/ClException.h"
#include "platform/posix/MessagesSeam.h"
#include "tests/support/StdRedirect.h"

#include <unistd.h>

ClDeviceSelector ByName(const char* name)
{
    ClDeviceSelector selector;
    selector.name = ClStringRange(ClString(name));
    return selector;
}

ClDeviceSelector ByNumber(DWORD number)
{
    ClDeviceSelector selector;
    selector.number = number;
    return selector;
}

FakeDevice Device(const char* name, const char* type)
{
    FakeDevice device;
    device.name = name;
    device.type = type;
    return device;
}

PassRun RunPass(FakeSupervisor& fake, DeviceCommand command, const std::vector<ClDeviceSelector>& selectors,
                const char* deviceType)
{
    ClArray<ClDeviceSelector> array;
    for (const ClDeviceSelector& selector : selectors) {
        array.Append(selector);
    }
    PassRun run;
    TempFile output;
    // The beep goes into the same file as the lines, so their order shows.
    SetMessageBeepHook([](UINT type) {
        if (type == MB_ICONEXCLAMATION && write(1, "<beep>", 6) != 6) {
            _exit(99);
        }
    });
    {
        ScopedRedirect redirect(1, output.Fd());
        try {
            RunDevicePass(fake, command, array, ClString(deviceType));
        } catch (ClException* failure) {
            run.failure = failure->message.GetText();
            delete failure;
        }
    }
    SetMessageBeepHook(nullptr);
    run.output = output.Contents();
    for (DWORD i = 0; i < array.GetCount(); ++i) {
        run.found.push_back(array[i].found != 0);
    }
    return run;
}
