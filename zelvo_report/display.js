"use strict";
// What the live page and the run report show alike: the display's scale,
// and a record as a row of the message record. The emulator inlines this
// file into both, so that neither keeps its own copy.
const ZelvoDisplay = (() => {
    // What did not reach the display or the agents as asked, or reached
    // nothing: the rows a reader looks for first.
    const unexpected = new Set(["skipped", "not_drawn", "refused", "dropped", "no_action"]);
    // As the pytest plugin marks a test: "test start: NAME", "test end: NAME passed".
    const mark = /^test (start|end): (.*?)(?: (?:passed|failed|skipped))?$/;

    // The rows' look, the same in the page and the report. A constructed
    // sheet, which the page's policy lets in as it does the page's own style.
    const rowStyle = new CSSStyleSheet();
    rowStyle.replaceSync(`
.record { display: grid; grid-template-columns: 4.5em 8.5em 4.5em 9em 4em minmax(0, 1fr); border-bottom: 1px solid #8884; font-size: 12px; }
.record[hidden] { display: none; }
.record > span { padding: 2px 6px; overflow: hidden; text-overflow: ellipsis; }
.record > :nth-child(-n+2), .record > :nth-child(4) { white-space: nowrap; font-variant-numeric: tabular-nums; }
.record.head { font-weight: 600; }
.record.in > :nth-child(3) { color: #1c7ed6; }
.record.out > :nth-child(3) { color: #2f9e44; }
.record.control > :nth-child(3) { color: #f08c00; }
.record.bad > :last-child { color: #e03131; font-weight: 600; }
.record.unfit > :last-child { color: #e8590c; }
.record.lint > :last-child { text-decoration: underline wavy #ae3ec9; }
.record.mark { background: #8882; font-weight: 600; border-top: 2px solid #8884; }
.record.mark > :nth-child(3) { grid-column: 3 / -1; color: inherit; }
`);
    document.adoptedStyleSheets = [...document.adoptedStyleSheets, rowStyle];

    function digits(value, count) {
        return String(value).padStart(count, "0");
    }

    // Classes for what in a record stands out: an outcome other than asked,
    // a fit or lint finding, a test's start or end.
    function findings(record) {
        const classes = [];
        if (unexpected.has(record.outcome))
            classes.push("bad");
        if (record.fit)
            classes.push("unfit");
        if (record.ignored || record.coerced)
            classes.push("lint");
        if (record.kind === "mark")
            classes.push("mark");
        return classes;
    }

    return {
        // Whole multiples of the display's pixels: 1 is one display pixel on
        // one pixel of the screen. "fit" takes the largest that fits into
        // room, in CSS pixels. Returns the multiple.
        scale(canvas, zoom, room) {
            const ratio = window.devicePixelRatio || 1;
            const factor = zoom === "fit"
                ? Math.max(1, Math.floor(Math.min(room.width * ratio / canvas.width,
                                                  room.height * ratio / canvas.height)))
                : Number(zoom);
            canvas.style.width = canvas.width * factor / ratio + "px";
            canvas.style.height = canvas.height * factor / ratio + "px";
            return factor;
        },

        standsOut(record) {
            return findings(record).length > 0;
        },

        // The local time of day, to the millisecond, of ms since 1970.
        wallTime(ms) {
            const date = new Date(ms);
            return digits(date.getHours(), 2) + ":" + digits(date.getMinutes(), 2) + ":"
                + digits(date.getSeconds(), 2) + "." + digits(date.getMilliseconds(), 3);
        },

        // Milliseconds of the device clock as seconds: "12.345 s".
        deviceTime(ms) {
            const sign = ms < 0 ? "-" : "";
            const whole = Math.abs(Math.round(ms));
            return sign + Math.floor(whole / 1000) + "." + digits(whole % 1000, 3) + " s";
        },

        // What a mark says of the test that runs, as the header shows it:
        // the plugin marks "start NAME" and "end NAME ...".
        markedTest(record) {
            const text = record.text || "";
            const parts = mark.exec(text);
            if (!parts)
                return "test: " + text;
            return "test: " + parts[2] + (parts[1] === "start" ? " (running)" : " (ended)");
        },

        // A row of cells (seq, time, direction, agent, connection and
        // sentence) for a list laid out as a grid; a mark's sentence spans
        // the rest of the row, as a section's head.
        recordRow(record, time) {
            const row = document.createElement("div");
            row.className = ["record", record.direction, ...findings(record)].join(" ");
            row.dataset.seq = record.seq;
            const isMark = record.kind === "mark";
            const cells = isMark
                ? [record.seq, time, record.sentence || record.text || ""]
                : [record.seq, time, record.direction, record.agent ?? "", record.connection ?? "", record.sentence ?? ""];
            for (const cell of cells) {
                const span = document.createElement("span");
                span.textContent = cell;
                row.appendChild(span);
            }
            if (!isMark)
                row.children[3].title = record.agent ?? "";
            return row;
        },
    };
})();
