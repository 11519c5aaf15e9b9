#pragma once
// Picks a report date range on two month calendars, by hand or from preset
// ranges that end today. After OK the caller reads m_tStart and m_tEnd.
#include <QDateTime>
#include <QDialog>
#include <ctime>
#include <functional>

class QCalendarWidget;
class QComboBox;
class QLabel;
class QMenu;

class CGRVDlgDateRange : public QDialog {
    Q_OBJECT

public:
    struct Preset {
        const char* text;
        int days;
    };
    static const Preset kPresets[7];

    explicit CGRVDlgDateRange(QWidget* parent = nullptr);
    ~CGRVDlgDateRange() override;

    void OnPresetChange();
    void OnReset();
    void OnOK();
    // Shows the calendar menu when the point lies on a calendar.
    void OnContextMenu(QWidget* window, const QPoint& screenPoint);

    // Tests set the present time.
    void SetClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    QComboBox* PresetCombo() const { return m_ctlPresets; }
    QCalendarWidget* StartCalendar() const { return m_ctlStart; }
    QCalendarWidget* EndCalendar() const { return m_ctlEnd; }
    QMenu* CalendarMenu() const { return m_pCalendarMenu; }

    std::time_t m_tStart = 0;
    std::time_t m_tEnd = 0;
    std::time_t m_tThird = 0;

public slots:
    void accept() override { OnOK(); }

private:
    void BuildControls();
    void BuildCalendarMenu();
    void OnInitDialog();
    // Members to the calendars (false) or the calendars' days to the members.
    void UpdateData(bool fromControls);

    QComboBox* m_ctlPresets = nullptr;
    QCalendarWidget* m_ctlStart = nullptr;
    QCalendarWidget* m_ctlEnd = nullptr;
    QLabel* m_ctlInstructions = nullptr;
    QMenu* m_pCalendarMenu = nullptr;
    std::function<QDateTime()> m_clock;
};
