#pragma once
// Searches the journal's entries by one field, picks one of the results or
// marks one deleted. It never loads an entry: the caller loads the id it
// hands back.
#include <QDialog>
#include <QString>

class CJournalDb;
class QComboBox;
class QLineEdit;
class QTableWidget;

class CGRVDlgFind : public QDialog {
    Q_OBJECT

public:
    explicit CGRVDlgFind(QWidget* parent = nullptr);

    // The column a field choice searches; any other text searches sbj.
    static const char* ColumnOfField(const QString& field);

    void OnBnClickedSearch();
    void OnClickResults();
    void OnDblclkResults();
    void OnBnClickedDelete();

    CJournalDb* m_pDb = nullptr;
    QString m_strSelectedId;
    QString m_strInitField;
    QString m_strInitText;
    int m_bSearchOnShow = 0;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnInitDialog();
    void OnShowWindow();
    void InitResultColumns();

    QComboBox* m_ctlField = nullptr;
    QLineEdit* m_ctlText = nullptr;
    QTableWidget* m_ctlResults = nullptr;
};
