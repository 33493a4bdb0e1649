#pragma once
// Shared set-up for the tests of the capture actions ("Show", "Acquire", "Auto Adjust"):
// a started form whose settings let an action go on, scan codes built group by group,
// a log of the message line and of the points where pending messages are processed.

#include "capture.h"
#include "form_fixture.h"
#include "line_chart.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace capfix {

struct Status {
    QString text;
    QColor colour;
    bool operator==(const Status&) const = default;
};

inline void PrintTo(const Status& s, std::ostream* os)
{
    *os << '"' << s.text.toStdString() << "\" " << s.colour.name().toStdString();
}

inline const QColor Red(255, 0, 0);
inline const QColor Yellow(255, 255, 0);
inline const QColor White(255, 255, 255);
inline const QColor Aqua(0, 255, 255);
inline const QColor LimeGreen(0, 255, 0);

// The message line each time its colour changes: a message given with a colour is
// seen at that moment, with the text it was given with.
class StatusLog : public QObject {
public:
    explicit StatusLog(QLabel* panel) : panel_(panel) { panel->installEventFilter(this); }
    std::vector<Status> entries;

    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (object == panel_ && event->type() == QEvent::PaletteChange)
            entries.push_back({panel_->text(), panel_->palette().color(QPalette::Window)});
        return false;
    }

private:
    QLabel* panel_;
};

// The codes of one scan group: channels 1, 2, 3 and the marker.
using Group = std::array<uint16_t, 4>;
using GroupFn = std::function<Group(int32_t group)>;

// A scan source filling every group from `fn`.
inline boardsim::ScanSource groupSource(GroupFn fn)
{
    return [fn = std::move(fn)](uint16_t* samples, int32_t count) {
        for (int32_t g = 0; g < count / 4; ++g) {
            const Group codes = fn(g);
            for (int i = 0; i < 4; ++i)
                samples[4 * g + i] = codes[static_cast<size_t>(i)];
        }
    };
}

// Volts to the nearest code of the +-5 V scale.
inline uint16_t code(double volts)
{
    return static_cast<uint16_t>(2048.0 + volts / 5.0 * 2048.0 + 0.5);
}

class CaptureTest : public fixture::FormTest {
protected:
    // A started form with the divider and number of sweeps entered, so that the
    // settings check lets an action go on.
    void startReady(int divider = 2, int sweeps = 1)
    {
        start();
        ASSERT_TRUE(form);
        form->Edit1->setText(QString::number(divider));
        form->Edit2->setText(QString::number(sweeps));
        status = std::make_unique<StatusLog>(form->Panel2);
        form->processMessages = [this] {
            processed.push_back({form->statusText(), form->statusColour()});
            if (onProcessMessages)
                onProcessMessages();
        };
    }

    Status current() const { return {form->statusText(), form->statusColour()}; }

    // Closes the program at the closeAt-th point where pending messages are processed,
    // by Exit ("Exit") or by the window frame (any other how); yields counts the points.
    void closeAtYield(int closeAt, const std::string& how, int& yields)
    {
        yields = 0;
        onProcessMessages = [this, closeAt, how, &yields] {
            if (++yields != closeAt)
                return;
            if (how == "Exit")
                form->Button7->click();
            else
                EXPECT_TRUE(form->close()) << how << " at yield " << closeAt;
        };
    }

    int calls(boardsim::Fn fn) const
    {
        int n = 0;
        for (const auto& call : boardsim::trace())
            n += call.fn == fn ? 1 : 0;
        return n;
    }

    std::unique_ptr<StatusLog> status;
    // The message line at every point where pending messages were processed.
    std::vector<Status> processed;
    std::function<void()> onProcessMessages;
};

}  // namespace capfix
