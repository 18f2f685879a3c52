// The source that the shared precompiled GoogleTest header is made with. Its program is linked
// only because the test programs that reuse the header depend on it; nothing runs it.
