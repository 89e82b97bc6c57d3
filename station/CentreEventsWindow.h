#pragma once
// "События центра": the journal rows of every station of the centre as they
// come, newest at the bottom, each in its status's colour and icon as the
// main journal shows them. Only the last rows are kept: the station's own
// journals and the database hold the rest.
#include "centre/DeskFeed.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QPixmap>

#include <deque>
#include <map>
#include <vector>

class QTableView;

namespace kv {

class TCentreEventsModel : public QAbstractTableModel {
public:
    enum Column { Station, Time, Status, Tel, Event, Object, kColumns };
    static constexpr std::size_t kKept = 1000;

    explicit TCentreEventsModel(QObject* parent = nullptr);
    // Oldest first; the oldest rows past kKept go.
    void Append(const std::vector<centre::FeedEvent>& events);
    const centre::FeedEvent& Row(int row) const { return m_rows[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const QPixmap& Icon(int index) const;

    std::deque<centre::FeedEvent> m_rows;
    mutable std::map<int, QPixmap> m_icons;
};

class TCentreEventsForm : public QDialog {
    Q_OBJECT
public:
    explicit TCentreEventsForm(QWidget* mainWindow);
    void ShowCentred();
    // The rows of a Take; the view follows them down unless the operator has scrolled up.
    void Append(const std::vector<centre::FeedEvent>& events);

    TCentreEventsModel* Model() const { return m_model; }
    QTableView* CentreEventsGrid;

private:
    TCentreEventsModel* m_model;
    QWidget* m_mainWindow;
};

} // namespace kv
