#include "app/shell/GRVDlgDateRange.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

// "Last Year" is a whole year of 365 days.
const CGRVDlgDateRange::Preset CGRVDlgDateRange::kPresets[7] = {
    {"Last 7 Days", 7},   {"Last 14 Days", 14},   {"Last 28 Days", 28}, {"Last 60 Days", 60},
    {"Last 90 Days", 90}, {"Last 180 Days", 180}, {"Last Year", 365},
};

namespace {

const char* const kInstructions =
    "Either select your Start Date and End Date manually or you can use the Presets to select "
    "common ranges like Last 14 days.  Select your range and then press OK.";

QDateTime FromTime(std::time_t t) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t));
}
std::time_t ToTime(const QDateTime& t) {
    return static_cast<std::time_t>(t.toSecsSinceEpoch());
}

} // namespace

CGRVDlgDateRange::CGRVDlgDateRange(QWidget* parent)
    : QDialog(parent), m_clock([] { return QDateTime::currentDateTime(); }) {
    BuildControls();
    OnInitDialog();
}

CGRVDlgDateRange::~CGRVDlgDateRange() = default;

void CGRVDlgDateRange::BuildControls() {
    setObjectName(QStringLiteral("169"));
    setWindowTitle(QStringLiteral("Set Date Range"));
    auto* outer = new QGroupBox(QStringLiteral("Select the Date Range for the Report"), this);
    auto* grid = new QGridLayout(outer);
    auto makeCalendar = [&](const char* caption, const char* name, int column) {
        auto* box = new QGroupBox(QString::fromLatin1(caption), outer);
        auto* cal = new QCalendarWidget(box);
        cal->setObjectName(QString::fromLatin1(name));
        cal->setHorizontalHeaderFormat(QCalendarWidget::ShortDayNames);
        cal->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
        cal->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(cal, &QWidget::customContextMenuRequested, this,
                [this, cal](const QPoint& pos) { OnContextMenu(this, cal->mapToGlobal(pos)); });
        (new QVBoxLayout(box))->addWidget(cal);
        grid->addWidget(box, 0, column);
        return cal;
    };
    m_ctlStart = makeCalendar("Start Date", "1086", 0);
    m_ctlEnd = makeCalendar("End Date", "1087", 1);

    auto* presetRow = new QHBoxLayout();
    presetRow->addWidget(new QLabel(QStringLiteral("Preset Ranges"), outer));
    m_ctlPresets = new QComboBox(outer);
    m_ctlPresets->setObjectName(QStringLiteral("1013"));
    presetRow->addWidget(m_ctlPresets, 1);
    grid->addLayout(presetRow, 1, 0, 1, 2);

    auto* instructions = new QGroupBox(QStringLiteral("Instructions"), this);
    m_ctlInstructions = new QLabel(QString::fromLatin1(kInstructions), instructions);
    m_ctlInstructions->setObjectName(QStringLiteral("1088"));
    m_ctlInstructions->setWordWrap(true);
    (new QVBoxLayout(instructions))->addWidget(m_ctlInstructions);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("2"));
    QPushButton* reset = buttons->addButton(QStringLiteral("Reset"), QDialogButtonBox::ResetRole);
    reset->setObjectName(QStringLiteral("3"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgDateRange::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(reset, &QPushButton::clicked, this, &CGRVDlgDateRange::OnReset);

    auto* main = new QVBoxLayout(this);
    main->addWidget(outer);
    main->addWidget(instructions);
    main->addWidget(buttons);
    BuildCalendarMenu();
}

void CGRVDlgDateRange::BuildCalendarMenu() {
    // The calendar menu offers ranges that nothing acts on yet: choosing one
    // changes nothing.
    m_pCalendarMenu = new QMenu(QStringLiteral("Calendar"), this);
    m_pCalendarMenu->setObjectName(QStringLiteral("170"));
    struct Item {
        int id;
        const char* text;
    };
    auto addSub = [this](const char* title, std::initializer_list<Item> items) {
        QMenu* sub = m_pCalendarMenu->addMenu(QString::fromLatin1(title));
        for (const Item& item : items) {
            sub->addAction(QString::fromLatin1(item.text))->setObjectName(QString::number(item.id));
        }
    };
    addSub("Weeks",
           {{32887, "Last 7 Days"}, {32888, "Last 14 Days"}, {32889, "Last 21 Days"}, {32890, "Last 28 Days"}});
    addSub("Month",
           {{32891, "Last Month"}, {32892, "Last 3 Months"}, {32893, "Last 6 Months"}, {32894, "Last 9 Months"}});
    addSub("Year", {{32895, "Last Year"}, {32896, "Last 2 Years"}, {32897, "Last 5 Years"}, {32898, "Last 10 Years"}});
    m_pCalendarMenu->addSeparator();
    m_pCalendarMenu->addAction(QStringLiteral("All"))->setObjectName(QStringLiteral("32885"));
    m_pCalendarMenu->addSeparator();
    m_pCalendarMenu->addAction(QStringLiteral("Reset"))->setObjectName(QStringLiteral("32886"));
}

void CGRVDlgDateRange::OnInitDialog() {
    // A sorted drop-down: each text goes in at its alphabetical place.
    for (const Preset& preset : kPresets) {
        const QString text = QString::fromLatin1(preset.text);
        int at = 0;
        while (at < m_ctlPresets->count() &&
               QString::compare(m_ctlPresets->itemText(at), text, Qt::CaseInsensitive) < 0) {
            ++at;
        }
        m_ctlPresets->insertItem(at, text);
    }
    m_ctlPresets->setCurrentIndex(-1);
    const QDate today = m_clock().date();
    m_ctlStart->setSelectedDate(today);
    m_ctlEnd->setSelectedDate(today);
    connect(m_ctlPresets, &QComboBox::currentIndexChanged, this, &CGRVDlgDateRange::OnPresetChange);
}

void CGRVDlgDateRange::UpdateData(bool fromControls) {
    if (fromControls) {
        m_tStart = ToTime(m_ctlStart->selectedDate().startOfDay());
        m_tEnd = ToTime(m_ctlEnd->selectedDate().startOfDay());
        return;
    }
    if (m_tStart)
        m_ctlStart->setSelectedDate(FromTime(m_tStart).date());
    if (m_tEnd)
        m_ctlEnd->setSelectedDate(FromTime(m_tEnd).date());
}

void CGRVDlgDateRange::OnPresetChange() {
    const QDateTime end = m_clock();
    m_tEnd = ToTime(end);
    const QString text = m_ctlPresets->currentText();
    UpdateData(false);
    for (const Preset& preset : kPresets) {
        if (text != QLatin1String(preset.text))
            continue;
        // Whole calendar days back, at the same time of day.
        const QDateTime start = end.addDays(-preset.days);
        m_tStart = ToTime(start);
        m_ctlStart->setSelectedDate(start.date());
        m_ctlEnd->setSelectedDate(end.date());
    }
    UpdateData(true);
}

void CGRVDlgDateRange::OnReset() {
    const QDateTime now = m_clock();
    m_tStart = m_tEnd = ToTime(now);
    m_ctlStart->setSelectedDate(now.date());
    m_ctlEnd->setSelectedDate(now.date());
}

void CGRVDlgDateRange::OnOK() {
    UpdateData(true);
    done(QDialog::Accepted);
}

void CGRVDlgDateRange::OnContextMenu(QWidget*, const QPoint& screenPoint) {
    for (QCalendarWidget* cal : {m_ctlStart, m_ctlEnd}) {
        const QRect onScreen(cal->mapToGlobal(QPoint(0, 0)), cal->size());
        if (onScreen.contains(screenPoint))
            m_pCalendarMenu->popup(screenPoint);
    }
}
