#pragma once

#include <QWidget>
#include <deque>

namespace qv {

// A mapping's bytes per second each way over the last minute, drawn as two lines.
class TThroughputGraph : public QWidget {
    Q_OBJECT
public:
    explicit TThroughputGraph(QWidget* parent = nullptr);

    // One second's rates; the oldest beyond kSeconds leaves.
    void AddSample(double sent, double received);
    static constexpr std::size_t kSeconds = 60;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::deque<std::pair<double, double>> samples_;
};

} // namespace qv
