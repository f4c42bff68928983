/**
 * An unbounded first-in-first-out queue read as an async iterator: the
 * producer pushes, ends or fails it; one consumer awaits the values in order.
 */
export class EventQueue<T> implements AsyncIterableIterator<T> {
  private readonly values: T[] = [];
  private waiter: { resolve: (result: IteratorResult<T>) => void; reject: (error: unknown) => void } | undefined;
  private finished = false;
  private failure: { error: unknown } | undefined;

  constructor(private readonly onReturn?: () => void) {}

  push(value: T): void {
    if (this.finished) return;
    if (this.waiter) {
      const { resolve } = this.waiter;
      this.waiter = undefined;
      resolve({ value, done: false });
    } else {
      this.values.push(value);
    }
  }

  /** Ends the queue once the values pushed so far are taken. */
  end(): void {
    this.settle(undefined);
  }

  /** Ends the queue with `error`, thrown once the values before it are taken. */
  fail(error: unknown): void {
    this.settle({ error });
  }

  next(): Promise<IteratorResult<T>> {
    if (this.values.length > 0) return Promise.resolve({ value: this.values.shift() as T, done: false });
    if (this.failure) {
      const { error } = this.failure;
      this.failure = undefined; // thrown once; the iterator is done after it
      return Promise.reject(error);
    }
    if (this.finished) return Promise.resolve({ value: undefined, done: true });
    return new Promise((resolve, reject) => {
      this.waiter = { resolve, reject };
    });
  }

  /** The consumer stops early (a `break` out of `for await`). */
  return(): Promise<IteratorResult<T>> {
    this.values.length = 0;
    this.settle(undefined);
    this.failure = undefined;
    this.onReturn?.();
    return Promise.resolve({ value: undefined, done: true });
  }

  [Symbol.asyncIterator](): this {
    return this;
  }

  private settle(failure: { error: unknown } | undefined): void {
    if (this.finished) return;
    this.finished = true;
    this.failure = failure;
    if (this.waiter && this.values.length === 0) {
      const { resolve, reject } = this.waiter;
      this.waiter = undefined;
      if (failure) {
        this.failure = undefined;
        reject(failure.error);
      } else {
        resolve({ value: undefined, done: true });
      }
    }
  }
}
