#!/usr/bin/env bash
# Every statement Tovrik sends to SQL Server parses as T-SQL: the statements the printer writes
# (PRINTER, print-sql-server-statements) go, one file each, through sqlfluff's tsql grammar in one
# call. One of them made wrong with LIMIT, which SQL Server refuses, must be rejected: a check
# that cannot fail proves nothing. Usage: tsql_parse_test.sh PRINTER WORK-DIR
set -euo pipefail
printer=$1
work=$2
sqlfluff=/usr/bin/sqlfluff  # Debian's: its Python has the Debian modules

rm -rf "$work"
mkdir -p "$work/statements" "$work/wrong"
# Without the limit, sqlfluff skips a file over 20,000 bytes and reports success.
printf '[sqlfluff]\ndialect = tsql\nlarge_file_skip_byte_limit = 0\n' > "$work/sqlfluff.cfg"
parse() {
    "$sqlfluff" parse --nocolor --ignore-local-config --config "$work/sqlfluff.cfg" "$1"
}

"$printer" > "$work/statements.txt"
count=0
while IFS= read -r -d '' record; do
    count=$((count + 1))
    printf '%s\n' "${record#*$'\t'}" \
        > "$work/statements/$(printf %02d "$count")-${record%%$'\t'*}.sql"
done < "$work/statements.txt"

if ! parse "$work/statements" > "$work/parse.txt" 2>&1; then
    echo "tsql_parse_test: statements that do not parse as T-SQL:"
    for file in "$work"/statements/*.sql; do
        if ! parse "$file" > "$file.txt" 2>&1; then
            echo "== $(basename "$file")"
            cat "$file"
            sed -n '/parsing violations/,$p' "$file.txt"
        fi
    done
    exit 1
fi
parsed=$(grep -c '|file:$' "$work/parse.txt" || true)
if [ "$count" -lt 20 ] || [ "$parsed" -ne "$count" ]; then
    echo "tsql_parse_test: $count statements printed, $parsed parsed"
    exit 1
fi

sed 's/ORDER BY ID$/ORDER BY ID LIMIT 3/' "$work"/statements/*-selection-window.sql \
    > "$work/wrong/limit.sql"
grep -q 'LIMIT 3$' "$work/wrong/limit.sql"
if parse "$work/wrong/limit.sql" > "$work/wrong/parse.txt" 2>&1 ||
    ! grep -q 'PRS' "$work/wrong/parse.txt"; then
    echo "tsql_parse_test: a statement with LIMIT was not rejected:"
    cat "$work/wrong/limit.sql" "$work/wrong/parse.txt"
    exit 1
fi
echo "tsql_parse_test: $count statements parse as T-SQL; LIMIT rejected (${SECONDS} s)"
