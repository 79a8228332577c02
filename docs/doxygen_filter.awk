# SPDX-License-Identifier: MIT
# Doxygen input filter for the public headers: their comments are plain C comments, written
# for a C reader, and this turns them into Doxygen's without touching the headers.
# - The first comment of a header describes the file.
# - A comment on lines of its own describes the declarations that follow it, up to the next
#   blank line, comment or preprocessor line: a family of functions under one comment is one
#   member group, the comment shared by all (DISTRIBUTE_GROUP_DOC). Groups are made at file
#   level only; before a struct, an enum or a macro the comment describes that one.
# - A comment after a declaration on the same line describes that member.
# - A section heading ("/* ---- blocking, with payload ---- */") names the shape of the
#   functions below it; a function without a comment of its own is described by it.
# Line numbers stay as they are, so that warnings point into the real headers.
function lead(line) { match(line, /^[ \t]*/); return substr(line, 1, RLENGTH) }
function emit(line) { out[++n] = line }
function flush(   i) { for (i = 1; i <= n; i++) print out[i]; n = 0; opener = 0 }
# Where a line's own line comment starts (not the "//" of "*//**"), or 0.
function line_comment_at(text,   i) {
  for (i = 1; i < length(text); i++)
    if (substr(text, i, 2) == "//" && (i == 1 || substr(text, i - 1, 1) != "*")) return i
  return 0
}
# The group ends at the end of the last line before it, or before that line's own line
# comment, which would swallow it.
function close_group(   at, last) {
  if (!grouping) return
  grouping = 0
  if (!members) { sub(/\/\*\*@\{\*\/ /, "", out[opener]); return }
  at = line_comment_at(out[n])
  if (at > 0) out[n] = substr(out[n], 1, at - 1) "/**@}*/ " substr(out[n], at)
  else out[n] = out[n] " /**@}*/"
}
function open_group(line) {
  if (depth > 0) return line
  grouping = 1; members = 0; opener = n + 1
  return lead(line) "/**@{*/ " substr(line, length(lead(line)) + 1)
}
function count_braces(code,   i, c, wrapper) {
  wrapper = code ~ /extern "C"|namespace/
  for (i = 1; i <= length(code); i++) {
    c = substr(code, i, 1)
    if (c == "{") { stack[++top] = wrapper; if (!wrapper) depth++ }
    else if (c == "}" && top > 0) { if (!stack[top]) depth--; top-- }
  }
}
{
  line = $0
  if (in_macro) { in_macro = line ~ /\\$/; emit(line); next }
  if (in_comment) {
    if (line ~ /\*\//) in_comment = 0
    emit(line); next
  }
  if (line ~ /^[ \t]*#/) {
    close_group(); in_macro = line ~ /\\$/; emit(line); flush(); next
  }
  if (line ~ /^[ \t]*$/) { close_group(); emit(line); flush(); next }
  if (line ~ /^\/\* ----/) {
    section = line; sub(/^\/\* -+ */, "", section); sub(/ *-+ *(\*\/)? *$/, "", section)
    close_group(); in_comment = line !~ /\*\//; emit(line); next
  }
  if (line ~ /^[ \t]*\/\*/) {
    close_group()
    if (!seen_code && !file_done) { sub(/^\/\*/, "/** @file", line); file_done = 1 }
    else if (line !~ /^[ \t]*\/\*[*!]/) { sub(/\/\*/, "/**", line); line = open_group(line) }
    in_comment = line !~ /\*\//
    emit(line); next
  }
  if (line ~ /^[ \t]*\/\//) {
    if (line !~ /^[ \t]*\/\/[\/!]/) {
      sub(/\/\//, "///", line)
      if (!grouping) { close_group(); line = open_group(line) }
    }
    emit(line); next
  }
  # Code. A group may hold only plain declarations: a comment before a brace describes the
  # struct or enum that follows, which cannot be a member of a group.
  code = line; sub(/\/[\/*].*/, "", code)
  if (code ~ /[{}]/ && grouping) {
    if (members) close_group(); else { sub(/\/\*\*@\{\*\/ /, "", out[opener]); grouping = 0 }
  }
  if (code !~ /^[ \t]*$/) { seen_code = 1; if (grouping) members++ }
  count_braces(code)
  if (line ~ /[;,{][ \t]*\/\*[^*!<]/) sub(/\/\*/, "/**<", line)
  else if (line ~ /[;,{][ \t]*\/\/[^\/!<]/) sub(/\/\//, "///<", line)
  else if (!grouping && depth == 0 && section != "" && code ~ /^[A-Za-z].*\(.*\) *;/ && n == 0)
    line = "/** " section ". */ " line
  emit(line)
  if (!grouping) flush()
}
END { close_group(); flush() }
