// progress_line.h - inside the console: the progress line goes before any other text is shown.
#ifndef DUZE_PROGRESS_LINE_H
#define DUZE_PROGRESS_LINE_H

// Takes the progress line off the screen, if it is shown; it returns at its next redraw.
void ProgressHide();

#endif
