"""Reads a metrics file with the Prometheus client library's own parser of
the text format and prints what it understood, one line per family and per
sample, for the C++ tests to compare. Exits non-zero when the text does not
parse."""
import sys

from prometheus_client.parser import text_string_to_metric_families


def main(path):
    with open(path, encoding="utf-8") as source:
        text = source.read()
    for family in text_string_to_metric_families(text):
        print(f"family {family.name} {family.type}")
        for sample in family.samples:
            labels = ",".join(f'{key}="{value}"' for key, value in sorted(sample.labels.items()))
            print(f"sample {sample.name}{{{labels}}} {sample.value!r}")


if __name__ == "__main__":
    main(sys.argv[1])
