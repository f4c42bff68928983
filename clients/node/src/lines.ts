/** Splits a byte stream into UTF-8 text lines, across chunk boundaries. */
import { StringDecoder } from "node:string_decoder";

export class LineSplitter {
  private readonly decoder = new StringDecoder("utf8");
  private pending = "";

  /** The lines that `chunk` completes, without their line feeds. */
  feed(chunk: Buffer): string[] {
    return this.split(this.decoder.write(chunk));
  }

  /** What is left at the end of the stream: a last line without a line feed. */
  end(): string[] {
    const lines = this.split(this.decoder.end());
    if (this.pending !== "") lines.push(this.pending);
    this.pending = "";
    return lines;
  }

  private split(text: string): string[] {
    if (text === "") return [];
    const lines = (this.pending + text).split("\n");
    this.pending = lines.pop() ?? "";
    return lines.map((line) => (line.endsWith("\r") ? line.slice(0, -1) : line));
  }
}
