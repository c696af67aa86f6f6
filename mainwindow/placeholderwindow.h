#pragma once

#include <QWidget>

// Stands in for the full main window until it is built: shows the main
// camera's live picture and writes the settings when it is destroyed.
class PlaceholderWindow : public QWidget {
    Q_OBJECT
public:
    explicit PlaceholderWindow(QWidget *parent = nullptr);
    ~PlaceholderWindow() override;
};
