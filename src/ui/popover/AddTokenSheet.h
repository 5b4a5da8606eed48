#pragma once

#include <QWidget>

#include <chrono>

class AppState;
class QAbstractButton;
class QLineEdit;
class QScrollArea;
class SearchResultListView;

// The search-and-add screen: a back control and a search field on top, and below them a spinner,
// a prompt, a no-result message or the result list. The search itself lives in AppState; the
// sheet edits the query, asks for searches and adds the chosen token.
class AddTokenSheet : public QWidget {
    Q_OBJECT
public:
    enum class Content { Spinner, Prompt, NoResults, Results };
    Q_ENUM(Content)

    static constexpr std::chrono::milliseconds kFocusDelay{150};

    explicit AddTokenSheet(AppState& appState, QWidget* parent = nullptr);
    ~AddTokenSheet() override;

    Content content() const { return m_content; }
    QLineEdit* searchField() const { return m_field; }
    SearchResultListView* resultList() const { return m_list; }

Q_SIGNALS:
    // The back control was used; the search is cleared already. With nothing connected, the
    // sheet closes itself.
    void backRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void scheduleRender();
    void render();
    void goBack();
    void showContent(Content content);

    AppState& m_appState;
    QAbstractButton* m_back = nullptr;
    QLineEdit* m_field = nullptr;
    QWidget* m_spinner = nullptr;
    QWidget* m_prompt = nullptr;
    QWidget* m_noResults = nullptr;
    QScrollArea* m_resultsScroll = nullptr;
    SearchResultListView* m_list = nullptr;
    Content m_content = Content::Prompt;
    bool m_renderPending = false;
};
