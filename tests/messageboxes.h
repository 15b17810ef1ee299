#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "platform/qt/messagebox.h"
#include "platform/qt/seams.h"

// Stands in for the user at every message box while it lives: records each box and
// answers from a queue, or with the box's default button when the queue is empty.
class MessageBoxes {
public:
    MessageBoxes()
    {
        SetMessageBoxHandler([this](const MessageBoxRequest& request) {
            shown.push_back(request);
            if (onShow)
                onShow(request);
            if (answers.empty())
                return request.defaultButton;
            const MessageAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        });
    }
    ~MessageBoxes() { SetMessageBoxHandler({}); }
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;

    MessageBoxes& answer(MessageAnswer next)
    {
        answers.push_back(next);
        return *this;
    }

    std::vector<MessageBoxRequest> shown;
    std::deque<MessageAnswer> answers;
    // Runs as each box appears, e.g. to look at the windows behind it.
    std::function<void(const MessageBoxRequest&)> onShow;
};
