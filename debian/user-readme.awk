# Prints README.md without the sections about the source tree: the set-up
# commands and everything for developers.
/^## / {
  skip = ($0 ~ /^## (セットアップ|For developers)/)
}
!skip { print }
