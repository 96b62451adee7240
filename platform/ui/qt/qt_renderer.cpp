#include "platform/ui/qt/qt_renderer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <future>

#include "platform/ui/qt/dialog_window.h"

namespace qx::ui::qt {
namespace {

// Answers of the boxes beyond those prompts.h names.
constexpr int IDOK_ = 1, IDCANCEL_ = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5;

// A box's buttons in their order.
std::vector<QMessageBox::StandardButton> buttons_of(unsigned buttons) {
    switch (buttons) {
        case MB_OKCANCEL: return {QMessageBox::Ok, QMessageBox::Cancel};
        case 0x02: return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
        case 0x03: return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        case MB_YESNO: return {QMessageBox::Yes, QMessageBox::No};
        case 0x05: return {QMessageBox::Retry, QMessageBox::Cancel};
        default: return {QMessageBox::Ok};
    }
}

int answer_of(int button) {
    switch (button) {
        case QMessageBox::Ok: return IDOK_;
        case QMessageBox::Cancel: return IDCANCEL_;
        case QMessageBox::Abort: return IDABORT;
        case QMessageBox::Retry: return IDRETRY;
        case QMessageBox::Ignore: return IDIGNORE;
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        default: return IDCANCEL_;
    }
}

QMessageBox::Icon icon_of(unsigned icon) {
    switch (icon) {
        case MB_ICONSTOP: return QMessageBox::Critical;
        case MB_ICONQUESTION: return QMessageBox::Question;
        case MB_ICONEXCLAMATION: return QMessageBox::Warning;
        case MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

// Lives on the GUI thread and runs the renderer's posted work there. Woken by name: Qt then
// allocates and reads the queued call itself, so no object of ours crosses threads outside
// the renderer's own locked queue.
class gui_context : public QObject {
    Q_OBJECT
public:
    explicit gui_context(std::function<void()> run) : run_(std::move(run)) {}
public slots:
    void run_posted() { run_(); }

private:
    std::function<void()> run_;
};

// A box for `r`, its buttons named by r.labels where given. GUI thread.
QMessageBox* new_box(const message_box_request& r, QWidget* parent) {
    const std::vector<QMessageBox::StandardButton> order = buttons_of(r.buttons());
    QMessageBox::StandardButtons all;
    for (QMessageBox::StandardButton b : order) all |= b;
    auto* box = new QMessageBox(icon_of(r.icon()), QString::fromStdString(r.caption), QString::fromStdString(r.text), all,
                                parent);
    box->setObjectName(QStringLiteral("message_box"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    for (std::size_t i = 0; i < r.labels.size() && i < order.size(); ++i)
        box->button(order[i])->setText(QString::fromStdString(r.labels[i]));
    if (r.default_button() < order.size()) box->setDefaultButton(order[r.default_button()]);
    return box;
}

}  // namespace

QString qt_file_filter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt reads the patterns from the name's parentheses: they must be the real ones.
        const qsizetype open = name.lastIndexOf(QLatin1Char('('));
        if (open >= 0) name = name.left(open).trimmed();
        out << QStringLiteral("%1 (%2)").arg(name, patterns);
    }
    return out.join(QStringLiteral(";;"));
}

qt_renderer::qt_renderer() : context_(new gui_context([this] { run_posted(); })) {
    if (QCoreApplication* app = QCoreApplication::instance()) context_->moveToThread(app->thread());
}

qt_renderer::~qt_renderer() { delete context_; }

bool qt_renderer::on_gui_thread() const { return QThread::currentThread() == context_->thread(); }

template <class F>
void qt_renderer::post(F f) {
    {
        std::lock_guard lock(posted_mutex_);
        posted_.emplace_back(std::move(f));
    }
    QMetaObject::invokeMethod(context_, "run_posted", Qt::QueuedConnection);
}

// One at a time: a function that opens a nested event loop lets the later ones run in it.
void qt_renderer::run_posted() {
    for (;;) {
        std::function<void()> f;
        {
            std::lock_guard lock(posted_mutex_);
            if (posted_.empty()) return;
            f = std::move(posted_.front());
            posted_.pop_front();
        }
        f();
    }
}

template <class F>
void qt_renderer::call(F f) {
    if (on_gui_thread()) {
        f();
        return;
    }
    std::mutex m;
    std::condition_variable ran;
    bool done = false;
    post([&] {
        f();
        std::lock_guard lock(m);
        done = true;
        ran.notify_one();
    });
    std::unique_lock lock(m);
    ran.wait(lock, [&] { return done; });
}

std::shared_ptr<qt_renderer::shown_window> qt_renderer::find(const dialog& d) const {
    std::lock_guard lock(mutex_);
    for (const auto& s : shown_)
        if (s->d == &d) return s;
    return nullptr;
}

dialog_window* qt_renderer::window(const dialog& d) const {
    const auto s = find(d);
    return s ? s->window.data() : nullptr;
}

std::vector<dialog_window*> qt_renderer::windows() const {
    std::lock_guard lock(mutex_);
    std::vector<dialog_window*> out;
    for (const auto& s : shown_)
        if (s->window) out.push_back(s->window.data());
    return out;
}

QWidget* qt_renderer::owner_widget(const dialog* d) const {
    if (d != nullptr) {
        if (dialog_window* w = window(*d)) return w;
    }
    const auto all = windows();
    return all.empty() ? nullptr : all.back();
}

void qt_renderer::show(dialog& d) {
    auto s = std::make_shared<shown_window>();
    s->d = &d;
    {
        std::lock_guard lock(mutex_);
        shown_.push_back(s);
    }
    // Registered before the window takes its first state: no change can fall between.
    std::weak_ptr<shown_window> weak = s;
    s->listener = d.model().add_listener([this, weak](int id) {
        post([weak, id] {
            if (const auto shown = weak.lock(); shown && shown->window) shown->window->apply(id);
        });
    });
    call([this, s] {
        QWidget* parent = nullptr;
        {
            std::lock_guard lock(mutex_);
            for (const auto& other : shown_)
                if (other != s && other->window) parent = other->window.data();
        }
        auto* w = new dialog_window(*s->d, parent);
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        s->window = w;
        w->show();
        w->raise();
        w->activateWindow();
    });
}

void qt_renderer::hide(dialog& d) {
    const auto s = find(d);
    if (!s) return;
    d.model().remove_listener(s->listener);
    call([s] {
        if (dialog_window* w = s->window.data()) {
            w->detach();
            w->hide();
            w->deleteLater();
        }
        s->window = nullptr;
    });
    std::lock_guard lock(mutex_);
    std::erase(shown_, s);
}

void qt_renderer::busy(dialog& d, bool on) {
    std::weak_ptr<shown_window> weak = find(d);
    post([weak, on] {
        if (const auto s = weak.lock(); s && s->window) s->window->set_busy(on);
    });
}

// A prompt opens on the GUI thread without a nested event loop there; the asking thread
// waits for its answer. `open` receives the function that delivers the answer (once).
template <class T, class Open>
T qt_renderer::ask(Open open) {
    auto answer = std::make_shared<std::promise<T>>();
    auto delivered = std::make_shared<bool>(false);
    auto finish = [answer, delivered](T value) {
        if (*delivered) return;
        *delivered = true;
        answer->set_value(std::move(value));
    };
    std::future<T> result = answer->get_future();
    if (on_gui_thread()) {
        // Asked on the GUI thread itself: wait in a local loop.
        QEventLoop loop;
        open([finish, &loop](T value) {
            finish(std::move(value));
            loop.quit();
        });
        if (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready) loop.exec();
        return result.get();
    }
    post([open, finish] { open(finish); });
    return result.get();
}

int qt_renderer::message_box(dialog* owner, const message_box_request& r) {
    return ask<int>([this, owner, r](std::function<void(int)> finish) {
        QWidget* parent = r.owned ? owner_widget(owner) : nullptr;
        QMessageBox* box = new_box(r, parent);
        const unsigned buttons = r.buttons();
        QObject::connect(box, &QMessageBox::finished, box, [box, buttons, finish](int) {
            int answer = box->clickedButton() ? answer_of(box->standardButton(box->clickedButton())) : IDCANCEL_;
            // A box with OK alone answers OK however it is closed.
            if (buttons == MB_OK) answer = IDOK_;
            finish(answer);
        });
        box->show();
    });
}

void qt_renderer::ask_stop(dialog& owner, const message_box_request& r, std::function<void(bool)> answered) {
    std::weak_ptr<shown_window> weak = find(owner);
    post([weak, r, answered = std::move(answered)] {
        const auto s = weak.lock();
        if (!s || !s->window || !s->window->attached()) return;
        QPointer<dialog_window> w = s->window.data();
        QMessageBox* box = new_box(r, w);
        QObject::connect(box, &QMessageBox::finished, box, [box, w, answered] {
            const bool stop = box->clickedButton() && box->standardButton(box->clickedButton()) == QMessageBox::Yes;
            // Never after the dialog ended: its window is detached first.
            if (w && w->attached()) answered(stop);
        });
        box->open();
    });
}

std::optional<std::string> qt_renderer::browse_folder(dialog& owner, const std::string& title) {
    return ask<std::optional<std::string>>([this, &owner, title](std::function<void(std::optional<std::string>)> finish) {
        auto* chooser = new QFileDialog(owner_widget(&owner), QString::fromStdString(title));
        chooser->setFileMode(QFileDialog::Directory);
        chooser->setOption(QFileDialog::ShowDirsOnly);
        chooser->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(chooser, &QFileDialog::finished, chooser, [chooser, finish](int result) {
            const QStringList chosen = chooser->selectedFiles();
            if (result == QDialog::Accepted && !chosen.isEmpty()) finish(chosen.front().toStdString());
            else finish(std::nullopt);
        });
        chooser->open();
    });
}

std::optional<std::string> qt_renderer::choose_file(dialog& owner, const file_request& r) {
    return ask<std::optional<std::string>>([this, &owner, r](std::function<void(std::optional<std::string>)> finish) {
        auto* chooser = new QFileDialog(owner_widget(&owner), QString::fromStdString(r.title), QString(), qt_file_filter(r.filter));
        chooser->setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        chooser->setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (!r.default_name.empty()) chooser->selectFile(QString::fromStdString(r.default_name));
        chooser->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(chooser, &QFileDialog::finished, chooser, [chooser, finish](int result) {
            const QStringList chosen = chooser->selectedFiles();
            if (result == QDialog::Accepted && !chosen.isEmpty()) finish(chosen.front().toStdString());
            else finish(std::nullopt);
        });
        chooser->open();
    });
}

int qt_renderer::popup_menu(dialog& owner, const popup_menu_request& r) {
    return ask<int>([this, &owner, r](std::function<void(int)> finish) {
        auto* menu = new QMenu(owner_widget(&owner));
        auto chosen = std::make_shared<int>(-1);
        for (std::size_t i = 0; i < r.items.size(); ++i) {
            if (r.items[i].empty()) {
                menu->addSeparator();
                continue;
            }
            QAction* a = menu->addAction(QString::fromStdString(r.items[i]));
            QObject::connect(a, &QAction::triggered, menu, [chosen, i] { *chosen = static_cast<int>(i); });
        }
        // The chosen action fires around the menu's hiding: answer once both have happened.
        QObject::connect(menu, &QMenu::aboutToHide, menu, [menu, chosen, finish] {
            QTimer::singleShot(0, menu, [menu, chosen, finish] {
                finish(*chosen);
                menu->deleteLater();
            });
        });
        menu->popup(QCursor::pos());
    });
}

void qt_renderer::serve(const std::atomic<bool>& done) {
    if (!on_gui_thread()) {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return done.load(); });
        return;
    }
    QEventLoop loop;
    loops_.push_back({&loop, &done});
    while (!done) loop.exec();
    std::erase_if(loops_, [&](const loop_entry& e) { return e.loop == &loop; });
}

void qt_renderer::wake() {
    {
        std::lock_guard lock(mutex_);
    }
    cv_.notify_all();
    post([this] {
        for (const loop_entry& e : loops_)
            if (*e.done) e.loop->quit();
    });
}

}  // namespace qx::ui::qt

#include "qt_renderer.moc"
