#pragma once
// CallDefaultWindowProc: a handler that does nothing but hand the current
// event on to the widget's default processing. A widget mixes it in as
//   class Canvas : public controls::DefaultProcessing<QWidget> { ... };
// and calls CallDefaultWindowProc(event) from an event() override for the
// events it does not consume itself.

#include <QEvent>

namespace controls {

template <class Base>
class DefaultProcessing : public Base {
public:
    using Base::Base;

protected:
    // The result of Base's own processing of `event` (never our override's).
    bool CallDefaultWindowProc(QEvent* event) { return Base::event(event); }
};

}  // namespace controls
