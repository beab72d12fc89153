"""The figures of two runs before a change beside those of two runs after it: rows matched by their
words, each the first number of its row, the ratio that of the means (after / before)."""
import sys


def figures(path):
    rows = {}
    for line in open(path, encoding="utf-8"):
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        numbers = [i for i, cell in enumerate(cells) if cell.replace(".", "", 1).isdigit()]
        if line.startswith("|") and numbers:
            words = " | ".join(c for i, c in enumerate(cells) if i not in numbers)
            rows.setdefault(words, float(cells[numbers[0]]))
    return rows


before = [figures(path) for path in sys.argv[1:3]]
after = [figures(path) for path in sys.argv[3:5]]
print("| row | before | after | after / before |")
print("|---|---:|---:|---:|")
for words in after[0]:
    if all(words in run for run in before + after):
        was = sum(run[words] for run in before) / 2
        now = sum(run[words] for run in after) / 2
        ratio = f"{now / was:.2f}" if was > 0 else "-"
        print(f"| {words} | {was:.2f} | {now:.2f} | {ratio} |")
