// Stands in for the user in front of message boxes: records every box and beep, and answers boxes as the test says.
#pragma once

#include <windows.h>

#include "platform/posix/MessagesSeam.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct RecordedBox {
    HWND owner;
    std::string text;
    bool hasCaption;
    std::string caption;
    UINT style;
    DWORD threadId;
};

// While it exists, no dialog reaches a terminal and no bell rings.
class MessageBoxRecorder {
public:
    MessageBoxRecorder()
    {
        SetMessageBoxHook([this](HWND owner, const char* text, const char* caption, UINT style) {
            RecordedBox box{owner, text, caption != nullptr, caption != nullptr ? caption : "", style,
                            GetCurrentThreadId()};
            {
                std::lock_guard<std::mutex> guard(lock);
                boxes.push_back(box);
            }
            return answer(box);
        });
        SetMessageBeepHook([this](UINT type) {
            std::lock_guard<std::mutex> guard(lock);
            beeps.push_back(type);
        });
    }
    ~MessageBoxRecorder()
    {
        SetMessageBoxHook(nullptr);
        SetMessageBeepHook(nullptr);
    }

    // How the user answers a box; Ok by default.
    std::function<int(const RecordedBox&)> answer = [](const RecordedBox&) { return IDOK; };
    std::vector<RecordedBox> boxes;
    std::vector<UINT> beeps;

private:
    std::mutex lock;
};
