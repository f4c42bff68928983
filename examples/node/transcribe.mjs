// Transcribes an audio file with progress: node transcribe.mjs talk.wav
import { transcribe } from "tolva-speech";

const onProgress = (fraction) => process.stderr.write(`\r${Math.round(fraction * 100)}%`);
try {
  const result = await transcribe(process.argv[2], { locale: "en-US", onProgress });
  process.stderr.write("\n");
  for (const s of result.segments) console.log(`[${s.start.toFixed(2)}-${s.end.toFixed(2)}] ${s.text.trim()}`);
} catch (error) {
  console.error(`\n${error}`); // a TolvaSpeechError: "code: message (detail)"
  process.exitCode = 1;
}
