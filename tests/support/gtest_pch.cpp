// The source that the shared precompiled GoogleTest header is made with; the program itself
// is never built.
