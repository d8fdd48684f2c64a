// Anchor for the support library; the fakes are header-only.
