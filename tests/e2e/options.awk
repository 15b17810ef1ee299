# An independent model of msdos.sys's section [Options], to work out the bytes a save
# must leave behind.
#   awk -v get=KEY -v fallback=D -f options.awk FILE    the key's value, or D when missing
#   awk -v set="K=V K=V ..." -f options.awk FILE        FILE after writing those keys in turn
# Rules: names match without regard to case, the first [Options] and its first matching
# key win, ";" starts a comment line; a written key keeps its line with only the value
# replaced, a missing one goes after the section's last key line (or its header), a
# missing section is added at the end. Lines keep their CR LF endings.

function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
function bare(s) { sub(/\r$/, "", s); return s }
# The lower-case name of a section header line, or "\n" for any other line.
function section_of(s,   t) {
    t = trim(bare(s))
    if (substr(t, 1, 1) != "[" || index(t, "]") == 0) return "\n"
    return tolower(trim(substr(t, 2, index(t, "]") - 2)))
}
# The lower-case key of a key line, or "" for any other line.
function key_of(s,   t) {
    t = bare(s)
    if (index(t, "=") == 0 || substr(trim(t), 1, 1) == ";" || section_of(s) != "\n") return ""
    return tolower(trim(substr(t, 1, index(t, "=") - 1)))
}
# Index of the [Options] header line, or 0.
function options_header(   i) {
    for (i = 1; i <= n; i++) if (section_of(line[i]) == "options") return i
    return 0
}
function insert_after(at, text,   i) {
    for (i = n; i > at; i--) line[i + 1] = line[i]
    line[at + 1] = text
    n++
}
function write_key(k, v,   h, i, last, t) {
    h = options_header()
    if (h == 0) {
        line[++n] = "[Options]" eol
        line[++n] = k "=" v eol
        return
    }
    last = h
    for (i = h + 1; i <= n && section_of(line[i]) == "\n"; i++) {
        if (key_of(line[i]) == tolower(k)) {
            t = bare(line[i])
            line[i] = substr(t, 1, index(t, "=")) v (line[i] ~ /\r$/ ? "\r" : "")
            return
        }
        if (key_of(line[i]) != "") last = i
    }
    insert_after(last, k "=" v eol)
}

{ line[++n] = $0 }

END {
    eol = (n == 0 || line[1] ~ /\r$/) ? "\r" : ""
    if (get != "") {
        h = options_header()
        if (h)
            for (i = h + 1; i <= n && section_of(line[i]) == "\n"; i++)
                if (key_of(line[i]) == tolower(get)) {
                    t = bare(line[i])
                    print trim(substr(t, index(t, "=") + 1))
                    exit
                }
        print fallback
        exit
    }
    count = split(set, pairs, " ")
    for (p = 1; p <= count; p++)
        write_key(substr(pairs[p], 1, index(pairs[p], "=") - 1), substr(pairs[p], index(pairs[p], "=") + 1))
    for (i = 1; i <= n; i++) print line[i]
}
